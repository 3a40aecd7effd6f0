# ZV_SANITIZE: a comma-separated list for -fsanitize= applied to every target
# (address,undefined for the asan preset; thread for tsan). The fuzz preset adds
# fuzzer-no-link so the library code is instrumented for coverage.
set(ZV_SANITIZE "" CACHE STRING "Sanitizers for every target (e.g. address,undefined)")
if(ZV_SANITIZE)
  add_compile_options(-fsanitize=${ZV_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ZV_SANITIZE})
endif()
