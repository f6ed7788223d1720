// The few UEFI media definitions the virtual-board driver needs beyond
// runtime/efi.h: the loaded-image protocol, the simple file system, file
// handles, device-path nodes and protocol installation.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "runtime/efi.h"

struct EFI_LOADED_IMAGE_PROTOCOL {
  uint32_t Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_HANDLE DeviceHandle;
  const void* FilePath;  // device path of the image file on DeviceHandle
  // The remaining members are never touched.
};

struct EFI_FILE_PROTOCOL {
  uint64_t Revision;
  EFI_STATUS(EFIAPI* Open)
  (EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** newHandle, const CHAR16* fileName, uint64_t openMode,
   uint64_t attributes);
  EFI_STATUS(EFIAPI* Close)(EFI_FILE_PROTOCOL* self);
  void* Delete;
  EFI_STATUS(EFIAPI* Read)(EFI_FILE_PROTOCOL* self, UINTN* bufferSize, void* buffer);
  // The remaining members are never touched.
};

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  uint64_t Revision;
  EFI_STATUS(EFIAPI* OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* self, EFI_FILE_PROTOCOL** root);
};

// Device-path node header; a media file-path node (type 4, subtype 4) carries
// a NUL-terminated UTF-16 path after it.
struct EFI_DEVICE_PATH_NODE {
  uint8_t Type;
  uint8_t SubType;
  uint8_t Length[2];
};
constexpr uint8_t kDevicePathMedia = 4;
constexpr uint8_t kDevicePathMediaFilePath = 4;
constexpr uint8_t kDevicePathEnd = 0x7F;

constexpr uint32_t kEfiNativeInterface = 0;
using EFI_INSTALL_PROTOCOL_INTERFACE = EFI_STATUS(EFIAPI*)(EFI_HANDLE* handle, const EFI_GUID* protocol,
                                                           uint32_t interfaceType, void* interface);
using EFI_UNINSTALL_PROTOCOL_INTERFACE = EFI_STATUS(EFIAPI*)(EFI_HANDLE handle, const EFI_GUID* protocol,
                                                             void* interface);

inline constexpr EFI_GUID kLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID kSimpleFileSystemProtocolGuid = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32);
static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8);
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32);
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(offsetof(EFI_BOOT_SERVICES, UninstallProtocolInterface) == 144);
