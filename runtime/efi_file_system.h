// SPDX-License-Identifier: BSD-2-Clause-Patent
// The file-system side of UEFI: the simple file system, file handles, device
// paths and the file-system information (the save's free-space query, the
// virtual-board driver's reads).
#pragma once

#include "runtime/efi.h"
#include "runtime/efi_shell.h"

// One device-path node's header; a media file-path node (type 4, subtype 4)
// carries a NUL-terminated UTF-16 path after it.
struct EFI_DEVICE_PATH_PROTOCOL {
  uint8_t Type;
  uint8_t SubType;
  uint8_t Length[2];
};
constexpr uint8_t kDevicePathMedia = 4;
constexpr uint8_t kDevicePathMediaFilePath = 4;
constexpr uint8_t kDevicePathEnd = 0x7F;

struct EFI_FILE_PROTOCOL {
  uint64_t Revision;
  EFI_STATUS(EFIAPI* Open)
  (EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** newHandle, const CHAR16* fileName, uint64_t openMode,
   uint64_t attributes);
  EFI_STATUS(EFIAPI* Close)(EFI_FILE_PROTOCOL* self);
  // Closes the handle as well; a warning (no error bit) when nothing was deleted.
  EFI_STATUS(EFIAPI* Delete)(EFI_FILE_PROTOCOL* self);
  EFI_STATUS(EFIAPI* Read)(EFI_FILE_PROTOCOL* self, UINTN* bufferSize, void* buffer);
  EFI_STATUS(EFIAPI* Write)(EFI_FILE_PROTOCOL* self, UINTN* bufferSize, const void* buffer);
  void* GetPosition;
  void* SetPosition;
  EFI_STATUS(EFIAPI* GetInfo)(EFI_FILE_PROTOCOL* self, const EFI_GUID* type, UINTN* bufferSize, void* buffer);
  EFI_STATUS(EFIAPI* SetInfo)(EFI_FILE_PROTOCOL* self, const EFI_GUID* type, UINTN bufferSize, const void* buffer);
  EFI_STATUS(EFIAPI* Flush)(EFI_FILE_PROTOCOL* self);
};

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  uint64_t Revision;
  EFI_STATUS(EFIAPI* OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* self, EFI_FILE_PROTOCOL** root);
};

// What a volume reports of itself; VolumeLabel follows, of variable length.
struct EFI_FILE_SYSTEM_INFO {
  uint64_t Size;
  BOOLEAN ReadOnly;
  uint64_t VolumeSize;
  uint64_t FreeSpace;
  uint32_t BlockSize;
  CHAR16 VolumeLabel[1];
};

using EfiLocateDevicePath = EFI_STATUS(EFIAPI*)(const EFI_GUID* protocol, EFI_DEVICE_PATH_PROTOCOL** devicePath,
                                                EFI_HANDLE* device);
using EfiShellGetCurDir = const CHAR16*(EFIAPI*)(const CHAR16* fileSystemMapping);
using EfiShellGetDevicePathFromFilePath = EFI_DEVICE_PATH_PROTOCOL*(EFIAPI*)(const CHAR16* path);

inline constexpr EFI_GUID kSimpleFileSystemProtocolGuid = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID kFileInfoGuid = {
    0x09576E92, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID kFileSystemInfoGuid = {
    0x09576E93, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

// A volume's free bytes and cluster size, asked of its open root, which is
// closed here whatever the answer.
inline bool QueryRootFreeSpace(EFI_FILE_PROTOCOL* root, uint64_t* freeBytes, uint32_t* clusterBytes) {
  alignas(8) uint8_t buffer[offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) + 2 * 64];
  UINTN size = sizeof buffer;
  const bool reported = !EfiError(root->GetInfo(root, &kFileSystemInfoGuid, &size, buffer));
  root->Close(root);
  if (!reported) return false;
  const auto* info = reinterpret_cast<const EFI_FILE_SYSTEM_INFO*>(buffer);
  *freeBytes = info->FreeSpace;
  *clusterBytes = info->BlockSize;
  return true;
}

static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8);
static_assert(offsetof(EFI_FILE_PROTOCOL, Close) == 16);
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32);
static_assert(offsetof(EFI_FILE_PROTOCOL, GetInfo) == 64);
static_assert(offsetof(EFI_FILE_PROTOCOL, SetInfo) == 72);
static_assert(offsetof(EFI_FILE_PROTOCOL, Flush) == 80);
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8);
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, FreeSpace) == 24);
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, BlockSize) == 32);
static_assert(offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) == 36);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateDevicePath) == 184);
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetDevicePathFromFilePath) == 8 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetCurDir) == 11 * 8);
