# SPDX-License-Identifier: BSD-2-Clause-Patent
# The manual pages: docs/man/NAME.SECTION.scd rendered by scdoc into
# build/man/NAME.SECTION, and the bash completions completions/NAME. With the
# tests, each page and completion is held to the options its program's help
# prints (tests/check_program_options.sh). A page or completion dropped into
# its folder is picked up here; its program is found by name (below).
find_program(PELLRIX_SCDOC scdoc)
if(NOT PELLRIX_SCDOC)
  message(FATAL_ERROR "scdoc renders the manual pages: run tools/setup.sh")
endif()

file(GLOB PELLRIX_MAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
set(PELLRIX_MAN_PAGES)
foreach(source ${PELLRIX_MAN_SOURCES})
  get_filename_component(page ${source} NAME_WLE)
  set(output ${CMAKE_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${PELLRIX_SCDOC} < ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Manual page ${page}"
    VERBATIM)
  list(APPEND PELLRIX_MAN_PAGES ${output})
endforeach()
add_custom_target(man ALL DEPENDS ${PELLRIX_MAN_PAGES})

file(GLOB PELLRIX_COMPLETIONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/completions/*)

# The command that prints PROGRAM's options, into OUT_VAR (empty when the
# program cannot run here): the utility's usage through the simulator, a host
# tool's --help, or the --help of the tools/ script an installation names
# pellrix-SCRIPT.
function(pellrix_help_command program out_var)
  string(REGEX REPLACE "^pellrix-" "" script ${program})
  if(program STREQUAL "pellrix")
    set(command $<TARGET_FILE:pellrix-sim> -- /?)
  elseif(TARGET ${program})
    set(command $<TARGET_FILE:${program}> --help)
  elseif(EXISTS ${CMAKE_SOURCE_DIR}/tools/${script}.sh)
    # The page and completion are the installed command's, which offers
    # only what works from the package.
    set(command env PELLRIX_INSTALLED_EFI_DIR=/usr/lib/pellrix/efi bash ${CMAKE_SOURCE_DIR}/tools/${script}.sh --help)
  else()
    set(command)
  endif()
  set(${out_var} "${command}" PARENT_SCOPE)
endfunction()

if(PELLRIX_BUILD_TESTS)
  set(PELLRIX_OPTIONS_CHECK ${CMAKE_SOURCE_DIR}/tests/check_program_options.sh)
  # Each page renders without a warning and lists exactly the options its
  # program's help prints; a page whose program cannot run here is only
  # rendered.
  foreach(source ${PELLRIX_MAN_SOURCES})
    get_filename_component(page_name ${source} NAME_WLE)
    get_filename_component(program ${page_name} NAME_WLE)
    pellrix_help_command(${program} help)
    if(help)
      add_test(NAME man_${page_name} COMMAND ${PELLRIX_OPTIONS_CHECK} man ${source} -- ${help})
    else()
      add_test(NAME man_${page_name} COMMAND ${PELLRIX_OPTIONS_CHECK} man ${source})
    endif()
  endforeach()
  # Each completion offers exactly the options its program's help prints.
  foreach(completion ${PELLRIX_COMPLETIONS})
    get_filename_component(program ${completion} NAME)
    pellrix_help_command(${program} help)
    add_test(NAME completion_${program} COMMAND ${PELLRIX_OPTIONS_CHECK} completion ${completion} ${program} -- ${help})
  endforeach()
endif()
