# Where the suite installs. Destinations are relative to CMAKE_INSTALL_PREFIX (/usr, as
# the library's default paths expect; see lib/platform/Paths.h) unless absolute.
#
# ADDING A FILE TO THE INSTALLATION is one install() line with one of these destinations,
# for example
#     install(FILES zenvor-driver@.service DESTINATION ${ZV_INSTALL_SYSTEMD_SYSTEM})
#     install(FILES 70-kinetra.rules DESTINATION ${ZV_INSTALL_UDEV_RULES})
# Nothing else needs registering: packaging/ (added last) turns the install manifest into
# uninstall.sh's list at the end of every install, and the Debian package holds whatever
# was installed. From where a file lies, uninstall.sh and the package's maintainer
# scripts know what else to do:
#     ${ZV_INSTALL_SYSTEMD_SYSTEM}/*   units are stopped and disabled before removal,
#                                      systemd is reloaded (templates: every instance)
#     ${ZV_INSTALL_SYSTEMD_USER}/*     user units are disabled for every user
#     ${ZV_INSTALL_UDEV_RULES}/*       udev rules are reloaded and hidraw/misc devices
#                                      re-triggered on install and after removal
# Two exceptions:
#   - files under /etc (autostart entries): use zv_install_config_files(), which also
#     marks them as configuration files of the package;
#   - applications: zv_application() (cmake/Applications.cmake) installs the folder and
#     its /usr/bin link; other links: zv_install_link().
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()

set(ZV_INSTALL_BINDIR bin)
set(ZV_INSTALL_LIBDIR lib/kinetra)                  # libZVDeviceLib (private)
set(ZV_INSTALL_APPLICATIONS lib/kinetra/Applications)
set(ZV_INSTALL_DATADIR share/kinetra)               # Devices/, MainstreamDevices/
set(ZV_INSTALL_DOCDIR share/doc/kinetra)
set(ZV_INSTALL_MANDIR share/man)
set(ZV_INSTALL_DESKTOP share/applications)
set(ZV_INSTALL_METAINFO share/metainfo)
set(ZV_INSTALL_SYSTEMD_USER lib/systemd/user)
# Debian 12 keeps system units and udev rules in /lib, not /usr/lib.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ZV_INSTALL_SYSTEMD_SYSTEM /lib/systemd/system)
  set(ZV_INSTALL_UDEV_RULES /lib/udev/rules.d)
else()
  set(ZV_INSTALL_SYSTEMD_SYSTEM lib/systemd/system)
  set(ZV_INSTALL_UDEV_RULES lib/udev/rules.d)
endif()
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?$")
  set(ZV_INSTALL_AUTOSTART /etc/xdg/autostart)
else()
  set(ZV_INSTALL_AUTOSTART etc/xdg/autostart)
endif()
# GNOME Shell's system-wide extensions (desktop/gnome-shell).
set(ZV_INSTALL_GNOME_SHELL_EXTENSIONS share/gnome-shell/extensions)
set(ZV_GNOME_SHELL_EXTENSION focus@kinetra.zenvor.com)
# The folders that belong to the suite alone: uninstall.sh removes them once empty.
set(ZV_INSTALL_OWNED_FOLDERS ${ZV_INSTALL_LIBDIR} ${ZV_INSTALL_DATADIR} ${ZV_INSTALL_DOCDIR}
    ${ZV_INSTALL_GNOME_SHELL_EXTENSIONS}/${ZV_GNOME_SHELL_EXTENSION})

# zv_install_link(<link, relative to the prefix> <target, relative to the prefix>)
# Installs a relative symbolic link, e.g. bin/kinetra -> ../lib/kinetra/Applications/….
# The target may hold generator expressions.
function(zv_install_link link target)
  get_filename_component(folder "${link}" DIRECTORY)
  get_filename_component(name "${link}" NAME)
  file(RELATIVE_PATH up "/root/${folder}" "/root")
  string(REGEX REPLACE "/+$" "" up "${up}")
  install(CODE "
    set(zv_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${folder}\")
    file(CREATE_LINK \"${up}/${target}\" \"\${zv_link}\" SYMBOLIC)
    message(STATUS \"Installing link: \${zv_link}\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${zv_link}\")")
endfunction()

# zv_install_config_files(FILES <file>… DESTINATION <absolute folder under /etc>)
function(zv_install_config_files)
  cmake_parse_arguments(CONF "" "DESTINATION" "FILES" ${ARGN})
  install(FILES ${CONF_FILES} DESTINATION ${CONF_DESTINATION})
  foreach(file IN LISTS CONF_FILES)
    get_filename_component(name ${file} NAME)
    set_property(GLOBAL APPEND PROPERTY ZV_CONFIG_FILES "${CONF_DESTINATION}/${name}")
  endforeach()
endfunction()
