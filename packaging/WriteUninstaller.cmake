# Runs at the end of every install (cmake --install, cpack): writes uninstall.manifest,
# the list of everything this install put down (the install manifest so far, without
# DESTDIR, plus the two files written here), and uninstall.sh from its template.
# Expects ZV_UNINSTALL_DIR (relative to the prefix), ZV_UNINSTALL_TEMPLATE,
# ZV_PACKAGE_NAME, ZV_OWNED_FOLDERS (relative to the prefix) and ZV_USER_UNITS_FILE (the
# shell function that reaches every user's service manager).
set(zv_destdir "$ENV{DESTDIR}")
set(zv_dir "${CMAKE_INSTALL_PREFIX}/${ZV_UNINSTALL_DIR}")
set(zv_paths "")
foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  if(zv_destdir)
    string(LENGTH "${zv_destdir}" zv_length)
    string(SUBSTRING "${file}" 0 ${zv_length} zv_head)
    if(zv_head STREQUAL zv_destdir)
      string(SUBSTRING "${file}" ${zv_length} -1 file)
    endif()
  endif()
  list(APPEND zv_paths "${file}")
endforeach()
list(APPEND zv_paths "${zv_dir}/uninstall.manifest" "${zv_dir}/uninstall.sh")
list(REMOVE_DUPLICATES zv_paths)
list(SORT zv_paths)
string(REPLACE ";" "\n" zv_manifest "${zv_paths}")

set(ZV_OWNED_FOLDERS_ABSOLUTE "")
foreach(folder IN LISTS ZV_OWNED_FOLDERS)
  string(APPEND ZV_OWNED_FOLDERS_ABSOLUTE " ${CMAKE_INSTALL_PREFIX}/${folder}")
endforeach()
string(STRIP "${ZV_OWNED_FOLDERS_ABSOLUTE}" ZV_OWNED_FOLDERS)
set(ZV_UNINSTALL_DIR "${zv_dir}")

file(READ "${ZV_USER_UNITS_FILE}" ZV_USER_UNITS)
string(REGEX REPLACE "^# shellcheck[^\n]*\n" "" ZV_USER_UNITS "${ZV_USER_UNITS}")
string(STRIP "${ZV_USER_UNITS}" ZV_USER_UNITS)

file(MAKE_DIRECTORY "${zv_destdir}${zv_dir}")
file(WRITE "${zv_destdir}${zv_dir}/uninstall.manifest" "${zv_manifest}\n")
configure_file("${ZV_UNINSTALL_TEMPLATE}" "${zv_destdir}${zv_dir}/uninstall.sh" @ONLY)
file(CHMOD "${zv_destdir}${zv_dir}/uninstall.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
list(LENGTH zv_paths zv_count)
message(STATUS "Installing: ${zv_destdir}${zv_dir}/uninstall.sh (removes ${zv_count} files)")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${zv_destdir}${zv_dir}/uninstall.manifest"
     "${zv_destdir}${zv_dir}/uninstall.sh")
