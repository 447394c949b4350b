# Shared build helpers: warning flags, layer libraries and tests.

add_library(hx_warnings INTERFACE)
target_compile_options(hx_warnings INTERFACE -Wall -Wextra -Wpedantic
  $<$<BOOL:${HX_WARNINGS_AS_ERRORS}>:-Werror>
  # g++ 12 reports -Wrestrict inside std::string concatenation at -O3, wrongly (GCC bug 105651).
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)

# Under clang the fuzz targets are libFuzzer programs. libFuzzer steers by the coverage of the
# code under test, so every library a target calls is instrumented too, not only the target's
# own file (fuzz/CMakeLists.txt links the targets with -fsanitize=fuzzer,address). Such a
# build is meant for fuzzing alone (scripts/fuzz keeps it in build-fuzz/).
if(HX_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address)
endif()

if(HX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# hx_gzip(SOURCE OUTPUT): compresses SOURCE into OUTPUT at configure time, without a name or a
# time stamp in the header, so that the same text always gives the same bytes.
function(hx_gzip source output)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${output} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
endfunction()

# hx_install_program(TARGET): installs a program with its manual page (TARGET.1.in from the
# current source folder, given the project's version and compressed) in the programs component.
function(hx_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  configure_file(${target}.1.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.1 @ONLY)
  hx_gzip(${CMAKE_CURRENT_BINARY_DIR}/${target}.1 ${CMAKE_CURRENT_BINARY_DIR}/${target}.1.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${target}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endfunction()

# hx_install_cmake_package(NAME): the relocatable CMake package NAME (NAMEConfig.cmake.in from
# the current source folder, a version file, and the targets of the export set NAMETargets in
# the namespace hx::) with the development files.
function(hx_install_cmake_package name)
  include(CMakePackageConfigHelpers)
  set(destination ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  configure_package_config_file(${name}Config.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake INSTALL_DESTINATION ${destination})
  # Before 1.0 a minor version may change the interface.
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
  install(EXPORT ${name}Targets NAMESPACE hx:: DESTINATION ${destination} COMPONENT development)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    DESTINATION ${destination} COMPONENT development)
endfunction()

# hx_install_pkgconfig(TEMPLATE): configures NAME.pc.in and installs it with the development
# files. The template names the prefix as ${pcfiledir}/@hx_pkgconfig_to_prefix@, so that the
# file stays right wherever the tree is moved.
function(hx_install_pkgconfig template)
  get_filename_component(name ${template} NAME_WLE)
  file(RELATIVE_PATH hx_pkgconfig_to_prefix "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
       "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/$" "" hx_pkgconfig_to_prefix "${hx_pkgconfig_to_prefix}")
  configure_file(${template} ${CMAKE_CURRENT_BINARY_DIR}/${name} @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endfunction()

# hx_add_layer(NAME SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Compiles one layer once as a PIC object library with its public include folder.
function(hx_add_layer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} OBJECT ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE hx_warnings ${ARG_PRIVATE_DEPS})
endfunction()

# hx_add_test(NAME SOURCES ... LIBS ...): one GoogleTest program, discovered by CTest.
# The program's main() may serve as a child process (see tests/support/TestMain.h).
function(hx_add_test name)
  # Also accept the keyword form hx_add_test(NAME <name> ...).
  if(name STREQUAL "NAME")
    list(POP_FRONT ARGN name)
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE hx_warnings hx_test_support ${ARG_LIBS} GTest::gtest GTest::gmock)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "HALVEX_TEST_SOURCE_DIR=${PROJECT_SOURCE_DIR};HALVEX_TEST_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
