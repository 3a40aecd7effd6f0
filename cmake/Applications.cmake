# Application folders. An executable of the suite lives in
#   <build>/Applications/<Name>.app/Contents/Linux/<executable>
# beside Contents/Info.plist, Contents/Resources/ and Contents/PlugIns/, as installed, so
# the program finds its bundle information and resources from its own path. A link in
# <build>/bin points at it.
#
#   zv_application(<target> NAME <Name> INFO_PLIST <template> [RESOURCES <file>…])
#
# The Info.plist template may use @ZV_BRAND@ and @PROJECT_VERSION@.
set(ZV_BRAND "Zenvor" CACHE STRING "Brand written into the applications' Info.plist")

function(zv_application target)
  cmake_parse_arguments(APP "" "NAME;INFO_PLIST" "RESOURCES" ${ARGN})
  set(bundle ${CMAKE_BINARY_DIR}/Applications/${APP_NAME}.app)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${bundle}/Contents/Linux
    BUILD_RPATH "$ORIGIN/../../../../bin")
  configure_file(${APP_INFO_PLIST} ${bundle}/Contents/Info.plist @ONLY)
  file(MAKE_DIRECTORY ${bundle}/Contents/Resources ${bundle}/Contents/PlugIns)
  set(outputs)
  foreach(resource IN LISTS APP_RESOURCES)
    get_filename_component(name ${resource} NAME)
    set(out ${bundle}/Contents/Resources/${name})
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${resource} ${out}
      DEPENDS ${resource} VERBATIM)
    list(APPEND outputs ${out})
  endforeach()
  add_custom_target(${target}_resources ALL DEPENDS ${outputs})
  add_dependencies(${target} ${target}_resources)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${bundle}/Contents/Linux/$<TARGET_FILE_NAME:${target}>
            ${CMAKE_BINARY_DIR}/bin/$<TARGET_FILE_NAME:${target}>
    VERBATIM)
endfunction()
