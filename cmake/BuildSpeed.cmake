# Shorter cold builds: precompiled headers and unity builds, each opted into per target
# where measurement showed it pays. Both can be switched off to check that every source
# still compiles on its own (-DZV_PRECOMPILE=OFF -DZV_UNITY=OFF).
option(ZV_PRECOMPILE "Precompiled headers for the targets with the heaviest headers" ON)
# With clang (the fuzz build) ccache finds no precompiled header it stored before, and
# every source that reads one misses the cache too: that build reads the headers as text.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(ZV_PRECOMPILE OFF)
endif()
option(ZV_UNITY "Unity builds for the targets whose sources are free of clashing names" ON)

# g++ before 13 leaves the "#pragma GCC diagnostic" lines of a header out of its compiled
# form, so the warnings the standard library silences around its string copies come back
# as false errors at -O2. Sources that read a precompiled header silence the same ones.
function(zv_precompiled_warnings target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow
                                             -Wno-stringop-overread)
  endif()
endfunction()

# zv_precompile(TARGET HEADER...): the target compiles HEADERs once and reads them from the
# compiled form in each of its sources.
function(zv_precompile target)
  if(ZV_PRECOMPILE)
    target_precompile_headers(${target} PRIVATE ${ARGN})
    zv_precompiled_warnings(${target})
  endif()
endfunction()

# zv_precompile_like(TARGET OWNER): the target reuses OWNER's precompiled headers. Both must
# compile with the same options; the compiler refuses a header compiled otherwise, and
# -Winvalid-pch with -Werror turns that into an error rather than a slow build.
function(zv_precompile_like target owner)
  if(ZV_PRECOMPILE)
    target_precompile_headers(${target} REUSE_FROM ${owner})
    zv_precompiled_warnings(${target})
  endif()
endfunction()

# zv_unity(TARGET [BATCH]): the target's sources compile BATCH at a time (default 8) as one
# translation unit, so the headers they share are read and their inline code compiled once
# per batch. Only for targets whose files have no clashing names in anonymous namespaces
# or static functions.
function(zv_unity target)
  if(ZV_UNITY)
    set(batch 8)
    if(ARGC GREATER 1)
      set(batch ${ARGV1})
    endif()
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${batch})
  endif()
endfunction()
