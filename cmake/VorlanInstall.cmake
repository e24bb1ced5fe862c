# What `cmake --install` puts under the prefix; the Debian packages
# (debian/) are made of the same installed files.
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

# The gateway with its systemd unit, sample configuration and registration
# file; the paths in them follow the prefix given at install time.
set(VORLAN_SYSTEMD_UNIT_DIR "" CACHE STRING
  "Where the gateway's unit goes (default: /lib/systemd/system for the prefix /usr, else PREFIX/lib/systemd/system)")
if(TARGET vorlan-gateway)
  install(TARGETS vorlan-gateway RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  file(READ ${CMAKE_SOURCE_DIR}/include/vorlan/driver.h VORLAN_HEADER_TEXT)
  string(REGEX MATCH "/\\* ({[0-9A-F-]+}) \\*/[\r\n]+static const VorlanGuid CLSID_VorlanRelayPro"
         VORLAN_CLSID_MATCH "${VORLAN_HEADER_TEXT}")
  if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "CLSID_VorlanRelayPro not found in include/vorlan/driver.h")
  endif()
  set(VORLAN_CLSID ${CMAKE_MATCH_1})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/InstallGatewayFiles.cmake.in
    ${CMAKE_BINARY_DIR}/InstallGatewayFiles.cmake @ONLY)
  install(SCRIPT ${CMAKE_BINARY_DIR}/InstallGatewayFiles.cmake)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/VorlanManPages.cmake)
