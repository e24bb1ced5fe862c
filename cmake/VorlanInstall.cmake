# What `cmake --install` puts under the prefix, and the Debian package made
# of it by `cpack -G DEB`.
include(CMakePackageConfigHelpers)

set(VORLAN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vorlan)

install(TARGETS vorlan vorlan_headers EXPORT VorlanTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/vorlan/driver.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorlan)
foreach(tool vorlan-host vorlan-relaysim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# pkg-config: vorlan.pc finds the prefix from its own place, so it is right
# under --prefix, DESTDIR and in the Debian package alike.
set(VORLAN_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VORLAN_PC_TO_PREFIX /prefix/${VORLAN_PC_DIR} /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorlan.pc.in ${CMAKE_BINARY_DIR}/vorlan.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vorlan.pc DESTINATION ${VORLAN_PC_DIR})

# CMake package: relocatable, so the same files serve any prefix.
install(EXPORT VorlanTargets NAMESPACE Vorlan:: DESTINATION ${VORLAN_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VorlanConfig.cmake.in
  ${CMAKE_BINARY_DIR}/VorlanConfig.cmake INSTALL_DESTINATION ${VORLAN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VorlanConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VorlanConfig.cmake ${CMAKE_BINARY_DIR}/VorlanConfigVersion.cmake
  DESTINATION ${VORLAN_CMAKE_DIR})

# The host developer's reading: the guide and the examples with their
# CMakeLists, which builds them against the installed package.
install(FILES ${CMAKE_SOURCE_DIR}/docs/host-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt
  ${CMAKE_SOURCE_DIR}/examples/minimal_host.c ${CMAKE_SOURCE_DIR}/examples/linked_host.c
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# Debian package. The shared-library dependencies are worked out from the
# installed files when dpkg-shlibdeps is there.
set(CPACK_PACKAGE_NAME vorlan)
set(CPACK_PACKAGE_VENDOR "Vorlan")
set(CPACK_PACKAGE_CONTACT "Vorlan developers <dev@vorlan.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
find_program(VORLAN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VORLAN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
