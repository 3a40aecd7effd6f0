# Shorter cold builds: precompiled headers and unity builds, each opted into per target
# where measurement showed it pays. Both can be switched off to check that every source
# still compiles on its own (-DZV_PRECOMPILE=OFF -DZV_UNITY=OFF).
option(ZV_PRECOMPILE "Precompiled headers for the targets with the heaviest headers" ON)
option(ZV_UNITY "Unity builds for the targets whose sources are free of clashing names" ON)

# zv_precompile(TARGET HEADER...): the target compiles HEADERs once and reads them from the
# compiled form in each of its sources.
function(zv_precompile target)
  if(ZV_PRECOMPILE)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

# zv_precompile_like(TARGET OWNER): the target reuses OWNER's precompiled headers. Both must
# compile with the same options; the compiler refuses a header compiled otherwise, and
# -Winvalid-pch with -Werror turns that into an error rather than a slow build.
function(zv_precompile_like target owner)
  if(ZV_PRECOMPILE)
    target_precompile_headers(${target} REUSE_FROM ${owner})
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
