# SPDX-License-Identifier: BSD-2-Clause-Patent
# pellrix.efi: the program code, the UEFI runtime and the real CPU layer,
# compiled by clang for the UEFI x86-64 target and linked by lld-link as a
# PE32+ EFI application.
#
# Beside it, for the virtual board in OVMF (tests/uefi/run_differential_test.sh):
#   vboard.efi          boot-service driver running the simulator's board model
#   pellrix-vboard.efi  pellrix.efi with the SMI trigger and the flash window
#                       going to vboard.efi's protocol
#   vbactive.efi        reports the virtual board's active chip as its status
#   pellrix-record-vboard.efi  pellrix-record.efi on the same CPU layer as
#                       pellrix-vboard.efi
# and, for the shell test, legacy-shell-launcher.efi.
find_program(PELLRIX_CLANG NAMES clang++ clang++-14 REQUIRED)
find_program(PELLRIX_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

set(PELLRIX_EFI_FLAGS
  --target=x86_64-unknown-windows -ffreestanding -fno-ms-extensions -fno-ms-compatibility
  -mno-stack-arg-probe -mno-red-zone -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-builtin -std=c++20 -O2 -Wall -Wextra -Werror -Wglobal-constructors
  -DPELLRIX_UEFI -I${CMAKE_SOURCE_DIR})

# Compiles each source once into efi-objects/ and sets OUT_VAR to the objects
# of SOURCES, in order.
function(pellrix_efi_objects out_var)
  set(objects)
  foreach(source ${ARGN})
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    string(REPLACE "/" "_" object_name ${relative})
    set(object ${CMAKE_BINARY_DIR}/efi-objects/${object_name}.obj)
    get_property(known GLOBAL PROPERTY PELLRIX_EFI_OBJECT_${object_name} SET)
    if(NOT known)
      set_property(GLOBAL PROPERTY PELLRIX_EFI_OBJECT_${object_name} TRUE)
      add_custom_command(
        OUTPUT ${object}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/efi-objects
        # The host build's launcher (ccache) serves these compiles too.
        COMMAND ${CMAKE_CXX_COMPILER_LAUNCHER} ${PELLRIX_CLANG} ${PELLRIX_EFI_FLAGS} -MD -MF ${object}.d -c ${source} -o ${object}
        DEPENDS ${source}
        DEPFILE ${object}.d
        COMMENT "EFI ${relative}"
        VERBATIM)
    endif()
    list(APPEND objects ${object})
  endforeach()
  set(${out_var} ${objects} PARENT_SCOPE)
endfunction()

# Links OBJECTS into NAME.efi with the given subsystem, built by default.
# Arguments of the form "/name:value" are further linker options.
function(pellrix_efi_image name subsystem)
  set(image ${CMAKE_BINARY_DIR}/${name}.efi)
  set(objects)
  set(options)
  foreach(argument ${ARGN})
    if(argument MATCHES "^/[A-Za-z]+:")
      list(APPEND options ${argument})
    else()
      list(APPEND objects ${argument})
    endif()
  endforeach()
  add_custom_command(
    OUTPUT ${image}
    # /Brepro: no time stamp, so two builds of one tree are byte-identical.
    COMMAND ${PELLRIX_LLD_LINK} /nologo /subsystem:${subsystem} /entry:efi_main /nodefaultlib
            /machine:x64 /Brepro ${options} /out:${image} ${objects}
    DEPENDS ${objects}
    COMMENT "Linking ${name}.efi"
    VERBATIM)
  string(REPLACE "-" "_" target ${name})
  add_custom_target(${target}_efi ALL DEPENDS ${image})
endfunction()

file(GLOB PELLRIX_EFI_RUNTIME_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/runtime/uefi/*.cpp)
# The shell programs' files go through the shell; the boot application's
# through its volume (volume_files.cpp), the same interface.
list(REMOVE_ITEM PELLRIX_EFI_RUNTIME_SOURCES ${CMAKE_SOURCE_DIR}/runtime/uefi/volume_files.cpp)
file(GLOB PELLRIX_EFI_CPU_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/firmware/cpu/x64/*.cpp)

# Each application's image entry hands its program to the shell runtime.
set(PELLRIX_EFI_ENTRY ${CMAKE_SOURCE_DIR}/app/uefi/efi_main.cpp)
set(PELLRIX_RECORD_EFI_ENTRY ${CMAKE_SOURCE_DIR}/record/uefi/efi_main.cpp)

pellrix_efi_objects(PELLRIX_EFI_OBJECTS ${PELLRIX_EFI_ENTRY}
  ${PELLRIX_PROGRAM_SOURCES} ${PELLRIX_RUNTIME_COMMON_SOURCES} ${PELLRIX_EFI_RUNTIME_SOURCES} ${PELLRIX_EFI_CPU_SOURCES})
pellrix_efi_image(pellrix efi_application ${PELLRIX_EFI_OBJECTS})

# pellrix-record.efi: the recorder over the same firmware layer, runtime and
# CPU layer objects as pellrix.efi.
pellrix_efi_objects(PELLRIX_RECORD_EFI_OBJECTS ${PELLRIX_RECORD_EFI_ENTRY} ${PELLRIX_RECORD_SOURCES}
  ${PELLRIX_FIRMWARE_SOURCES} ${PELLRIX_RUNTIME_COMMON_SOURCES} ${PELLRIX_EFI_RUNTIME_SOURCES} ${PELLRIX_EFI_CPU_SOURCES})
pellrix_efi_image(pellrix-record efi_application ${PELLRIX_RECORD_EFI_OBJECTS})

# The virtual board's CPU layer: the real one except the SMI trigger and the
# flash window.
set(PELLRIX_VBOARD_CPU_SOURCES ${PELLRIX_EFI_CPU_SOURCES})
list(REMOVE_ITEM PELLRIX_VBOARD_CPU_SOURCES
  ${CMAKE_SOURCE_DIR}/firmware/cpu/x64/port.cpp
  ${CMAKE_SOURCE_DIR}/firmware/cpu/x64/flash_window.cpp)
list(APPEND PELLRIX_VBOARD_CPU_SOURCES
  ${CMAKE_SOURCE_DIR}/firmware/cpu/vboard/board_protocol.cpp
  ${CMAKE_SOURCE_DIR}/firmware/cpu/vboard/port.cpp
  ${CMAKE_SOURCE_DIR}/firmware/cpu/vboard/flash_window.cpp)
pellrix_efi_objects(PELLRIX_VBOARD_APP_OBJECTS ${PELLRIX_EFI_ENTRY}
  ${PELLRIX_PROGRAM_SOURCES} ${PELLRIX_RUNTIME_COMMON_SOURCES} ${PELLRIX_EFI_RUNTIME_SOURCES} ${PELLRIX_VBOARD_CPU_SOURCES})
pellrix_efi_image(pellrix-vboard efi_application ${PELLRIX_VBOARD_APP_OBJECTS})

pellrix_efi_objects(PELLRIX_RECORD_VBOARD_OBJECTS ${PELLRIX_RECORD_EFI_ENTRY} ${PELLRIX_RECORD_SOURCES}
  ${PELLRIX_FIRMWARE_SOURCES} ${PELLRIX_RUNTIME_COMMON_SOURCES} ${PELLRIX_EFI_RUNTIME_SOURCES} ${PELLRIX_VBOARD_CPU_SOURCES})
pellrix_efi_image(pellrix-record-vboard efi_application ${PELLRIX_RECORD_VBOARD_OBJECTS})

pellrix_efi_objects(PELLRIX_VBOARD_DRIVER_OBJECTS
  ${CMAKE_SOURCE_DIR}/sim/vboard/driver.cpp
  ${CMAKE_SOURCE_DIR}/sim/vboard/acpi_view.cpp
  ${CMAKE_SOURCE_DIR}/sim/vboard/allocation_faults.cpp
  ${CMAKE_SOURCE_DIR}/sim/vboard/vboard_check.cpp
  ${CMAKE_SOURCE_DIR}/sim/board_model.cpp
  ${CMAKE_SOURCE_DIR}/runtime/uefi/libc.cpp)
pellrix_efi_image(vboard efi_boot_service_driver ${PELLRIX_VBOARD_DRIVER_OBJECTS})

pellrix_efi_objects(PELLRIX_VBOARD_PROBE_OBJECTS
  ${CMAKE_SOURCE_DIR}/sim/vboard/active_probe.cpp
  ${CMAKE_SOURCE_DIR}/runtime/uefi/libc.cpp)
pellrix_efi_image(vbactive efi_application ${PELLRIX_VBOARD_PROBE_OBJECTS})

# For the shell test: starts an image without the shell-parameters protocol,
# as an EFI Shell 1.x does.
pellrix_efi_objects(PELLRIX_LEGACY_LAUNCHER_OBJECTS
  ${CMAKE_SOURCE_DIR}/tests/uefi/legacy_shell_launcher.cpp
  ${CMAKE_SOURCE_DIR}/runtime/uefi/libc.cpp)
pellrix_efi_image(legacy-shell-launcher efi_application ${PELLRIX_LEGACY_LAUNCHER_OBJECTS})

# pellrix-kit.efi: the field kit as a boot application, from the utility's
# and the recorder's objects, with its files on the simple file system of the
# volume it was loaded from instead of the shell's. Its .sbat section (what
# shim checks before it starts a second stage) is placed by the linker.
file(GLOB PELLRIX_KIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/kit/*.cpp)
set(PELLRIX_KIT_EFI_SOURCES
  ${CMAKE_SOURCE_DIR}/kit/uefi/efi_main.cpp
  ${CMAKE_SOURCE_DIR}/kit/uefi/field_kit.cpp
  ${CMAKE_SOURCE_DIR}/kit/uefi/firmware_services.cpp
  ${CMAKE_SOURCE_DIR}/kit/uefi/sbat.cpp
  ${PELLRIX_KIT_SOURCES} ${PELLRIX_PROGRAM_SOURCES} ${PELLRIX_RECORD_SOURCES} ${PELLRIX_RUNTIME_COMMON_SOURCES}
  ${CMAKE_SOURCE_DIR}/runtime/uefi/console.cpp
  ${CMAKE_SOURCE_DIR}/runtime/uefi/libc.cpp
  ${CMAKE_SOURCE_DIR}/runtime/uefi/volume_files.cpp)
pellrix_efi_objects(PELLRIX_KIT_EFI_OBJECTS ${PELLRIX_KIT_EFI_SOURCES}
  ${CMAKE_SOURCE_DIR}/kit/uefi/real_board.cpp ${PELLRIX_EFI_CPU_SOURCES})
pellrix_efi_image(pellrix-kit efi_application /include:kSbatSection ${PELLRIX_KIT_EFI_OBJECTS})

# The test kit: loads vboard.efi from its volume first and reaches the
# virtual board through it.
pellrix_efi_objects(PELLRIX_KIT_VBOARD_OBJECTS ${PELLRIX_KIT_EFI_SOURCES}
  ${CMAKE_SOURCE_DIR}/kit/uefi/virtual_board.cpp ${PELLRIX_VBOARD_CPU_SOURCES})
pellrix_efi_image(pellrix-kit-vboard efi_application /include:kSbatSection ${PELLRIX_KIT_VBOARD_OBJECTS})
