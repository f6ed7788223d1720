# pellrix.efi: the program code, the UEFI runtime and the real CPU layer,
# compiled by clang for the UEFI x86-64 target and linked by lld-link as a
# PE32+ EFI application.
find_program(PELLRIX_CLANG NAMES clang++ clang++-14 REQUIRED)
find_program(PELLRIX_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)

set(PELLRIX_EFI_FLAGS
  --target=x86_64-unknown-windows -ffreestanding -fno-ms-extensions -fno-ms-compatibility
  -mno-stack-arg-probe -mno-red-zone -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-builtin -std=c++20 -O2 -Wall -Wextra -Werror -Wglobal-constructors
  -DPELLRIX_UEFI -I${CMAKE_SOURCE_DIR})

file(GLOB PELLRIX_EFI_ONLY_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/runtime/uefi/*.cpp
  ${CMAKE_SOURCE_DIR}/firmware/cpu/x64/*.cpp)

set(PELLRIX_EFI_OBJECTS)
foreach(source ${PELLRIX_PROGRAM_SOURCES} ${PELLRIX_RUNTIME_COMMON_SOURCES} ${PELLRIX_EFI_ONLY_SOURCES})
  file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
  string(REPLACE "/" "_" object_name ${relative})
  set(object ${CMAKE_BINARY_DIR}/efi-objects/${object_name}.obj)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/efi-objects
    COMMAND ${PELLRIX_CLANG} ${PELLRIX_EFI_FLAGS} -MD -MF ${object}.d -c ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    COMMENT "EFI ${relative}"
    VERBATIM)
  list(APPEND PELLRIX_EFI_OBJECTS ${object})
endforeach()

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/pellrix.efi
  COMMAND ${PELLRIX_LLD_LINK} /nologo /subsystem:efi_application /entry:efi_main /nodefaultlib
          /machine:x64 /out:${CMAKE_BINARY_DIR}/pellrix.efi ${PELLRIX_EFI_OBJECTS}
  DEPENDS ${PELLRIX_EFI_OBJECTS}
  COMMENT "Linking pellrix.efi"
  VERBATIM)
add_custom_target(pellrix_efi ALL DEPENDS ${CMAKE_BINARY_DIR}/pellrix.efi)
