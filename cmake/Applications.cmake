# Application folders. An executable of the suite lives in
#   <build>/Applications/<Name>.app/Contents/Linux/<executable>
# beside Contents/Info.plist and Contents/Resources/, as installed, so
# the program finds its bundle information and resources from its own path. A link in
# <build>/bin points at it.
#
#   zv_application(<target> NAME <Name> INFO_PLIST <template>
#                  [EXTENSION <ext>]            folder "<Name>.<ext>" (default: app)
#                  [RESOURCES <file>…]          copied into Contents/Resources/
#                  [RESOURCE_DIRS <folder>…]    copied with their contents (en.lproj, …)
#                  [COMMAND <name>])            installed as <prefix>/bin/<name>, a link
#
# The Info.plist template may use @ZV_BRAND@, @ZV_PRODUCT_TITLE@ and @PROJECT_VERSION@.
# The folder is installed as it is built, under ${ZV_INSTALL_APPLICATIONS}
# (cmake/Install.cmake); executables find libZVDeviceLib in ${ZV_INSTALL_LIBDIR}.
set(ZV_BRAND "Zenvor" CACHE STRING "Brand written into the applications' Info.plist")
# The editor's application folder is "<product title>.app" and the settings window's
# "<product title>.prefPane"; the settings window shows "<product title> Software".
set(ZV_PRODUCT_TITLE "${ZV_BRAND} Editor" CACHE STRING
    "Name of the editor's and the settings window's application folders")

function(zv_application target)
  cmake_parse_arguments(APP "" "NAME;INFO_PLIST;EXTENSION;COMMAND" "RESOURCES;RESOURCE_DIRS"
                        ${ARGN})
  if(NOT APP_EXTENSION)
    set(APP_EXTENSION app)
  endif()
  set(folder "${APP_NAME}.${APP_EXTENSION}")
  set(bundle "${CMAKE_BINARY_DIR}/Applications/${folder}")
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${bundle}/Contents/Linux"
    BUILD_RPATH "$ORIGIN/../../../../bin"
    INSTALL_RPATH "$ORIGIN/../../../..")
  configure_file(${APP_INFO_PLIST} "${bundle}/Contents/Info.plist" @ONLY)
  # No Contents/PlugIns: an application that has that folder finds its devices only there.
  file(MAKE_DIRECTORY "${bundle}/Contents/Resources")
  set(outputs)
  foreach(resource IN LISTS APP_RESOURCES)
    get_filename_component(name ${resource} NAME)
    set(out "${bundle}/Contents/Resources/${name}")
    add_custom_command(OUTPUT "${out}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${resource} "${out}"
      DEPENDS ${resource} VERBATIM)
    list(APPEND outputs "${out}")
  endforeach()
  foreach(dir IN LISTS APP_RESOURCE_DIRS)
    get_filename_component(name ${dir} NAME)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS RELATIVE ${dir} ${dir}/*)
    foreach(file IN LISTS files)
      set(out "${bundle}/Contents/Resources/${name}/${file}")
      add_custom_command(OUTPUT "${out}"
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dir}/${file} "${out}"
        DEPENDS ${dir}/${file} VERBATIM)
      list(APPEND outputs "${out}")
    endforeach()
  endforeach()
  add_custom_target(${target}_resources ALL DEPENDS ${outputs})
  add_dependencies(${target} ${target}_resources)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
    COMMAND ${CMAKE_COMMAND} -E create_symlink "${bundle}/Contents/Linux/$<TARGET_FILE_NAME:${target}>"
            ${CMAKE_BINARY_DIR}/bin/$<TARGET_FILE_NAME:${target}>
    VERBATIM)

  set(destination "${ZV_INSTALL_APPLICATIONS}/${folder}/Contents")
  install(TARGETS ${target} RUNTIME DESTINATION "${destination}/Linux")
  install(FILES "${bundle}/Contents/Info.plist" DESTINATION "${destination}")
  if(APP_RESOURCES)
    install(FILES ${APP_RESOURCES} DESTINATION "${destination}/Resources")
  endif()
  foreach(dir IN LISTS APP_RESOURCE_DIRS)
    install(DIRECTORY ${dir} DESTINATION "${destination}/Resources")
  endforeach()
  if(APP_COMMAND)
    zv_install_link(${ZV_INSTALL_BINDIR}/${APP_COMMAND}
                    "${destination}/Linux/$<TARGET_FILE_NAME:${target}>")
  endif()
endfunction()
