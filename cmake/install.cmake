# SPDX-License-Identifier: BSD-2-Clause-Patent
# What an installation holds, in two components that are the two Debian
# packages (debian/rules installs each into its package):
#   pellrix      the host tools (the field kit's explain step,
#                pellrix-explain-run, among them), with their manual pages
#                and completions
#   pellrix-efi  the EFI programs and the field kit's image builder (as
#                pellrix-make-usb), and theirs
# A program joins by its target's name: a host tool in PELLRIX_HOST_PROGRAMS,
# an EFI image in PELLRIX_EFI_PROGRAMS; each is installed when this build
# makes it. A page or completion goes with its program's package.
include(GNUInstallDirs)

set(PELLRIX_HOST_PROGRAMS pellrix-diff pellrix-sim pellrix-fleet pellrix-explain-run)
set(PELLRIX_EFI_PROGRAMS pellrix pellrix-record pellrix-kit)
set(PELLRIX_EFI_DIR ${CMAKE_INSTALL_PREFIX}/lib/pellrix/efi)
set(PELLRIX_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR}/pellrix)

foreach(program ${PELLRIX_HOST_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT pellrix)
  endif()
endforeach()

foreach(program ${PELLRIX_EFI_PROGRAMS})
  string(REPLACE "-" "_" target ${program})
  if(TARGET ${target}_efi)
    install(FILES ${CMAKE_BINARY_DIR}/${program}.efi DESTINATION lib/pellrix/efi COMPONENT pellrix-efi)
  endif()
endforeach()

# The image builder runs from a copy of the tree's tools/ under the data
# folder, with the version in VERSION beside it (tools/version.sh); the
# command in the path hands it the installed programs.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/make-usb.sh
        DESTINATION ${PELLRIX_DATA_DIR}/tools COMPONENT pellrix-efi)
install(FILES ${CMAKE_SOURCE_DIR}/tools/version.sh DESTINATION ${PELLRIX_DATA_DIR}/tools COMPONENT pellrix-efi)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/tools/usb DESTINATION ${PELLRIX_DATA_DIR}/tools
        USE_SOURCE_PERMISSIONS COMPONENT pellrix-efi)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/install/VERSION CONTENT "${PROJECT_VERSION}\n")
install(FILES ${CMAKE_BINARY_DIR}/install/VERSION DESTINATION ${PELLRIX_DATA_DIR} COMPONENT pellrix-efi)
# The stick carries the licence beside the programs.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${PELLRIX_DATA_DIR} COMPONENT pellrix-efi)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/install/pellrix-make-usb CONTENT [[#!/bin/sh
# Builds the field kit's image from the installed EFI programs, into the
# current directory unless --output says otherwise.
PELLRIX_INSTALLED_EFI_DIR=@PELLRIX_EFI_DIR@ exec @PELLRIX_DATA_DIR@/tools/make-usb.sh "$@"
]] @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/pellrix-make-usb
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT pellrix-efi)

# Manual pages and completions, with the package of their program.
function(pellrix_component program out_var)
  if(program IN_LIST PELLRIX_HOST_PROGRAMS)
    set(${out_var} pellrix PARENT_SCOPE)
  else()
    set(${out_var} pellrix-efi PARENT_SCOPE)
  endif()
endfunction()
foreach(page ${PELLRIX_MAN_PAGES})
  get_filename_component(program ${page} NAME_WLE)
  get_filename_component(section ${page} LAST_EXT)
  string(SUBSTRING ${section} 1 1 section_number)
  pellrix_component(${program} component)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section_number} COMPONENT ${component})
endforeach()
foreach(completion ${PELLRIX_COMPLETIONS})
  get_filename_component(program ${completion} NAME)
  pellrix_component(${program} component)
  install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT ${component})
endforeach()

# One version everywhere: project(), the Debian changelog and every program
# a person runs.
if(PELLRIX_BUILD_TESTS)
  set(PELLRIX_VERSIONED_COMMANDS)
  foreach(program ${PELLRIX_HOST_PROGRAMS})
    if(TARGET ${program})
      list(APPEND PELLRIX_VERSIONED_COMMANDS $<TARGET_FILE:${program}>)
    endif()
  endforeach()
  foreach(script make-usb)
    list(APPEND PELLRIX_VERSIONED_COMMANDS "bash ${CMAKE_SOURCE_DIR}/tools/${script}.sh")
  endforeach()
  add_test(NAME version_agrees
    COMMAND ${CMAKE_SOURCE_DIR}/tests/check_version.sh ${CMAKE_SOURCE_DIR} ${PELLRIX_VERSIONED_COMMANDS})
endif()
