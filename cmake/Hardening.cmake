# Every symbol of the suite's programs bound at start, so that the relocations can be made
# read-only, as Debian builds its packages; in the optimised builds a package is made from.
# Sanitizer builds leave it out.
if(NOT ZV_SANITIZE AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
