# Debian packages, built by cpack from a configured tree (scripts/package):
#   libhxpreferences0     libHXPlatform, libHXPreferences and the library's resource bundle
#   libhxpreferences-dev  headers, the CMake package, pkg-config files and the library links
#   halvex                the three programs, their manual pages, the Settings plug-in and the
#                         sample device
# Dependencies on Debian's libraries come from dpkg-shlibdeps; those between the three are
# stated here, at the exact version.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvex)
set(CPACK_PACKAGE_VENDOR "Halvex")
set(CPACK_PACKAGE_CONTACT "Halvex developers <halvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Settings for application backgrounding")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime development programs)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Installed programs and libraries lose their debugging sections, as Debian ships them.
set(CPACK_STRIP_FILES ON)
# The programs link libraries of the runtime package, which dpkg-shlibdeps finds here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

set(hx_runtime_dependency "libhxpreferences0 (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libhxpreferences0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Halvex preference library\n The shared preferences library of Halvex: typed settings, the backgrounding\n registry and its distributed notifications, over the platform library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libhxpreferences-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${hx_runtime_dependency}, libboost-dev (>= 1.74)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Halvex preference library - development files\n Headers, CMake package (find_package(HXPreferences)) and pkg-config files for\n programs that read Halvex settings and observe its notifications.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME halvex)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${hx_runtime_dependency}")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
  "Halvex programs and sample device\n halvex-settings (the Settings application as a web page), halvex-springboard\n (the home-screen stand-in) and halvex-defaults (preference domains from a shell),\n with the sample device they run on.")

include(CPack)
