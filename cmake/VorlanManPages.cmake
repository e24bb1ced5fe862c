# Manual pages of the programs, made by help2man from their own --help, with
# the sections --help has no room for in tools/<dir>/<program>.h2m.
#   VORLAN_MANPAGES: AUTO (when help2man is there), ON (required) or OFF.
# Sanitizer and fuzz builds make none: their programs can't run as plain ones.
set(VORLAN_MANPAGES AUTO CACHE STRING "Make the manual pages with help2man: AUTO, ON or OFF")
if(VORLAN_MANPAGES STREQUAL "OFF" OR VORLAN_SANITIZE OR VORLAN_FUZZ)
  return()
endif()
find_program(VORLAN_HELP2MAN help2man)
if(NOT VORLAN_HELP2MAN)
  if(VORLAN_MANPAGES STREQUAL "ON")
    message(FATAL_ERROR "help2man is needed for the manual pages (VORLAN_MANPAGES=ON)")
  endif()
  message(STATUS "help2man not found: no manual pages")
  return()
endif()

set(VORLAN_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(vorlan_man_pages)
# program;folder;one-line summary
foreach(entry
    "vorlan-host;host;commissioning host for the Vorlan relay driver"
    "vorlan-relaysim;relaysim;simulated protective relays on a serial line"
    "vorlan-gateway;gateway;serves relays on Vorlan serial lines over Modbus TCP and MQTT")
  list(GET entry 0 program)
  list(GET entry 1 folder)
  list(GET entry 2 summary)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(include_file ${CMAKE_SOURCE_DIR}/tools/${folder}/${program}.h2m)
  set(page ${VORLAN_MAN_DIR}/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VORLAN_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
            ${VORLAN_HELP2MAN} --no-info --no-discard-stderr
            --version-string=${PROJECT_VERSION} --name=${summary}
            --include=${include_file} --output=${page} $<TARGET_FILE:${program}>
    DEPENDS ${program} ${include_file}
    COMMENT "Manual page ${program}.1"
    VERBATIM)
  list(APPEND vorlan_man_pages ${page})
endforeach()
add_custom_target(vorlan_man_pages ALL DEPENDS ${vorlan_man_pages})
install(FILES ${vorlan_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
