// SPDX-License-Identifier: BSD-2-Clause-Patent
// EFI_LOADED_IMAGE_PROTOCOL up to the device the image was loaded from, and
// the device-path protocol's GUID: how a boot application finds its volume.
#pragma once

#include "runtime/efi.h"

inline constexpr EFI_GUID kLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID kDevicePathProtocolGuid = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

struct EFI_LOADED_IMAGE_HEAD {
  uint32_t Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_HANDLE DeviceHandle;
};
static_assert(offsetof(EFI_LOADED_IMAGE_HEAD, DeviceHandle) == 24);
