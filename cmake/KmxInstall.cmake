# Installation: the public header, keymux_native with its version and soname,
# a CMake package (find_package(keymux CONFIG) -> keymux::keymux) and a
# pkg-config file (keymux.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(keymux_native PROPERTIES EXPORT_NAME keymux)
install(TARGETS keymux_native EXPORT keymuxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/keymux/keymux.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/keymux)

set(KMX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/keymux)
install(EXPORT keymuxTargets NAMESPACE keymux:: DESTINATION ${KMX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/keymuxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/keymuxConfig.cmake INSTALL_DESTINATION ${KMX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/keymuxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/keymuxConfig.cmake ${PROJECT_BINARY_DIR}/keymuxConfigVersion.cmake
  DESTINATION ${KMX_CMAKE_DIR})

# Relative to the .pc file, so that an install with --prefix elsewhere works.
file(RELATIVE_PATH KMX_PC_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
string(REGEX REPLACE "/$" "" KMX_PC_PREFIX "${KMX_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/keymux.pc.in ${PROJECT_BINARY_DIR}/keymux.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/keymux.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A C host built out of tree against the installed package, both ways. A
# sanitizer build's library needs the sanitizer runtime in every host, so
# the check runs on plain builds only.
if(KMX_BUILD_TESTS AND NOT KMX_SANITIZE AND KMX_BACKEND STREQUAL "linux")
  add_test(NAME install_consumer
    COMMAND ${PROJECT_SOURCE_DIR}/native/tests/x11/with_xvfb.sh
            ${PROJECT_SOURCE_DIR}/native/tests/x11/install_consumer/run.sh
            ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/install-consumer-check)
  set_tests_properties(install_consumer PROPERTIES TIMEOUT 300 LABELS "x11;xvfb;install")
endif()
