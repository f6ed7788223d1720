// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UEFI Shell's protocols: the argument list and the file functions.
#pragma once

#include "runtime/efi.h"

// Shell protocols: the argument list and the file functions.
struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16** Argv;
  UINTN Argc;
  void* StdIn;
  void* StdOut;
  void* StdErr;
};

using SHELL_FILE_HANDLE = void*;

// A file's information; FileName is a NUL-terminated name of variable length,
// and Size counts the whole structure with it. Setting it with another
// FileName renames the file.
struct EFI_FILE_INFO {
  uint64_t Size;
  uint64_t FileSize;
  uint64_t PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  uint64_t Attribute;
  CHAR16 FileName[1];
};

struct EFI_SHELL_PROTOCOL {
  void* Execute;
  void* GetEnv;
  void* SetEnv;
  void* GetAlias;
  void* SetAlias;
  void* GetHelpText;
  void* GetDevicePathFromMap;
  void* GetMapFromDevicePath;
  void* GetDevicePathFromFilePath;
  void* GetFilePathFromDevicePath;
  void* SetMap;
  void* GetCurDir;
  void* SetCurDir;
  void* OpenFileList;
  void* FreeFileList;
  void* RemoveDupInFileList;
  void* BatchIsActive;
  void* IsRootShell;
  void* EnablePageBreak;
  void* DisablePageBreak;
  void* GetPageBreak;
  void* GetDeviceName;
  EFI_FILE_INFO*(EFIAPI* GetFileInfo)(SHELL_FILE_HANDLE handle);
  EFI_STATUS(EFIAPI* SetFileInfo)(SHELL_FILE_HANDLE handle, const EFI_FILE_INFO* info);
  EFI_STATUS(EFIAPI* OpenFileByName)(const CHAR16* fileName, SHELL_FILE_HANDLE* handle, uint64_t openMode);
  EFI_STATUS(EFIAPI* CloseFile)(SHELL_FILE_HANDLE handle);
  EFI_STATUS(EFIAPI* CreateFile)(const CHAR16* fileName, uint64_t fileAttributes, SHELL_FILE_HANDLE* handle);
  EFI_STATUS(EFIAPI* ReadFile)(SHELL_FILE_HANDLE handle, UINTN* bufferSize, void* buffer);
  EFI_STATUS(EFIAPI* WriteFile)(SHELL_FILE_HANDLE handle, UINTN* bufferSize, void* buffer);
  void* DeleteFile;
  EFI_STATUS(EFIAPI* DeleteFileByName)(const CHAR16* fileName);
  void* GetFilePosition;
  void* SetFilePosition;
  void* FlushFile;
  void* FindFiles;
  void* FindFilesInDir;
  EFI_STATUS(EFIAPI* GetFileSize)(SHELL_FILE_HANDLE handle, uint64_t* size);
};

constexpr uint64_t kEfiFileModeRead = 0x1;
constexpr uint64_t kEfiFileModeWrite = 0x2;
constexpr uint64_t kEfiFileModeCreate = 0x8000000000000000ull;

inline constexpr EFI_GUID kShellParametersProtocolGuid = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};
inline constexpr EFI_GUID kShellProtocolGuid = {
    0x6302D008, 0x7F9B, 0x4F30, {0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E}};

static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8);
static_assert(offsetof(EFI_FILE_INFO, FileName) == 80);
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileInfo) == 22 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFileInfo) == 23 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 24 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, CreateFile) == 26 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, ReadFile) == 27 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 28 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFileByName) == 30 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileSize) == 36 * 8);
