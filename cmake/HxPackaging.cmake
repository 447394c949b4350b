# Debian packages, built by cpack from a configured tree (packaging/build-debs, which
# scripts/package runs):
#   libhxpreferences0     libHXPlatform, libHXPreferences and the library's resource bundle
#   libhxpreferences-dev  headers, the CMake packages, pkg-config files and the library links
#   halvex                the three programs, their manual pages, their private library, the
#                         Settings plug-in and the sample device
# Dependencies on Debian's libraries come from dpkg-shlibdeps; those between the three are
# stated here, at the exact version. Each package carries the copyright file and the changelog
# of packaging/.

set(HX_PACKAGE_MAINTAINER "Halvex developers <halvex@orlentis.com>" CACHE STRING
  "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvex)
set(CPACK_PACKAGE_VENDOR "Halvex")
set(CPACK_PACKAGE_CONTACT "${HX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime development programs)
# Each component description's first line is its package's synopsis.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Installed programs and libraries lose their debugging sections, as Debian ships them.
set(CPACK_STRIP_FILES ON)
# The programs link libraries of the runtime package and their private one, which
# dpkg-shlibdeps finds here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

set(hx_runtime_dependency "libhxpreferences0 (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libhxpreferences0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A program built against this version needs at least this version of the libraries; the
# loader's cache is refreshed by dpkg's trigger, not by maintainer scripts.
configure_file(${PROJECT_SOURCE_DIR}/packaging/libhxpreferences0.shlibs.in
  ${CMAKE_BINARY_DIR}/packaging/shlibs @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/libhxpreferences0.triggers
  ${CMAKE_BINARY_DIR}/packaging/triggers COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/packaging/shlibs ${CMAKE_BINARY_DIR}/packaging/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "preference library of Halvex\nThe shared preferences library of Halvex: typed settings, the backgrounding\nregistry and its distributed notifications, over the platform library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libhxpreferences-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${hx_runtime_dependency}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "preference library of Halvex - development files\nHeaders, CMake packages (find_package(HXPreferences)) and pkg-config files\nfor programs that read Halvex settings and observe its notifications.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME halvex)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${hx_runtime_dependency}")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
  "settings programs of Halvex, with a sample device\nhalvex-settings (the Settings application as a web page),\nhalvex-springboard (the home-screen stand-in) and halvex-defaults\n(preference domains from a shell), with the sample device they run on.")

# The copyright file and the changelog (compressed, as Debian ships it) in each package's
# documentation folder; the lintian overrides of the programs' package.
hx_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/changelog.gz)
foreach(hx_package runtime:libhxpreferences0 development:libhxpreferences-dev programs:halvex)
  string(REPLACE ":" ";" hx_package "${hx_package}")
  list(GET hx_package 0 hx_component)
  list(GET hx_package 1 hx_name)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${hx_name} COMPONENT ${hx_component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/halvex.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME halvex COMPONENT programs)

include(CPack)
