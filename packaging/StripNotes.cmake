# Runs in cpack after the stripped install into its staging folder, before the package is
# made: removes from every ELF file the compiler's notes (.comment, .note), which strip
# keeps and Debian's packages leave out.
find_program(ZV_OBJCOPY objcopy REQUIRED)
file(GLOB_RECURSE zv_files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(zv_file IN LISTS zv_files)
  if(IS_SYMLINK "${zv_file}")
    continue()
  endif()
  file(READ "${zv_file}" zv_magic LIMIT 4 HEX)
  if(zv_magic STREQUAL "7f454c46")
    execute_process(COMMAND ${ZV_OBJCOPY} --remove-section=.comment --remove-section=.note
                            "${zv_file}" RESULT_VARIABLE zv_result)
    if(NOT zv_result EQUAL 0)
      message(FATAL_ERROR "objcopy could not remove the notes of ${zv_file}")
    endif()
  endif()
endforeach()
