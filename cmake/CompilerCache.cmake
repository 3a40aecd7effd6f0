# Compiles through ccache when it is installed and no launcher was chosen: the test command
# builds the same sources in four configurations, and a rebuild after a small change then
# costs seconds. scripts/build sets the cache's base folder to the checkout so that clones
# in other folders share hits.
find_program(ZV_CCACHE ccache)
if(ZV_CCACHE)
  foreach(lang C CXX)
    if(NOT CMAKE_${lang}_COMPILER_LAUNCHER AND NOT DEFINED ENV{CMAKE_${lang}_COMPILER_LAUNCHER})
      set(CMAKE_${lang}_COMPILER_LAUNCHER ${ZV_CCACHE})
    endif()
  endforeach()
endif()
