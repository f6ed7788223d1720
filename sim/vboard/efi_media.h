// SPDX-License-Identifier: BSD-2-Clause-Patent
// The few UEFI definitions the virtual-board driver needs beyond runtime/efi.h
// and runtime/efi_file_system.h: the loaded-image protocol, protocol
// installation and the boot-services table's checksum.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "runtime/efi.h"
#include "runtime/efi_file_system.h"

struct EFI_LOADED_IMAGE_PROTOCOL {
  uint32_t Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_HANDLE DeviceHandle;
  const void* FilePath;  // device path of the image file on DeviceHandle
  void* Reserved;
  uint32_t LoadOptionsSize;
  void* LoadOptions;
  void* ImageBase;
  uint64_t ImageSize;
  // The remaining members are never touched.
};

constexpr uint32_t kEfiNativeInterface = 0;
using EFI_INSTALL_PROTOCOL_INTERFACE = EFI_STATUS(EFIAPI*)(EFI_HANDLE* handle, const EFI_GUID* protocol,
                                                           uint32_t interfaceType, void* interface);
using EFI_REINSTALL_PROTOCOL_INTERFACE = EFI_STATUS(EFIAPI*)(EFI_HANDLE handle, const EFI_GUID* protocol,
                                                             void* oldInterface, void* newInterface);
using EFI_CALCULATE_CRC32 = EFI_STATUS(EFIAPI*)(const void* data, UINTN size, uint32_t* crc);
using EFI_UNINSTALL_PROTOCOL_INTERFACE = EFI_STATUS(EFIAPI*)(EFI_HANDLE handle, const EFI_GUID* protocol,
                                                             void* interface);

inline constexpr EFI_GUID kLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageSize) == 72);
static_assert(offsetof(EFI_BOOT_SERVICES, ReinstallProtocolInterface) == 136);
static_assert(offsetof(EFI_BOOT_SERVICES, CalculateCrc32) == 344);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallProtocolInterface) == 144);
