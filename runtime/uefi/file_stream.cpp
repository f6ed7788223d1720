// SPDX-License-Identifier: BSD-2-Clause-Patent
// File streams through the shell protocol, relative to the shell's current
// directory.
#include "runtime/efi_file_system.h"
#include "runtime/efi_globals.h"
#include "runtime/file_stream.h"
#include "runtime/memory.h"
#include "runtime/efi_shell.h"

namespace {

EFI_SHELL_PROTOCOL* Shell() {
  void* interface = nullptr;
  if (EfiError(gBS->LocateProtocol(&kShellProtocolGuid, nullptr, &interface))) return nullptr;
  return static_cast<EFI_SHELL_PROTOCOL*>(interface);
}

constexpr uint64_t kFileDirectory = 0x10;  // EFI_FILE_INFO attribute

// File names are short ASCII; longer ones are refused rather than cut. The
// folder separator '/' becomes the shell's '\\'.
bool ToUtf16(const char* name, CHAR16* out, unsigned capacity) {
  unsigned i = 0;
  for (; name[i] != '\0'; ++i) {
    if (i + 1 >= capacity || static_cast<uint8_t>(name[i]) >= 0x80) return false;
    out[i] = name[i] == '/' ? u'\\' : static_cast<CHAR16>(name[i]);
  }
  out[i] = 0;
  return true;
}

struct Stream {
  SHELL_FILE_HANDLE handle;
  bool failed;
};

Stream streams[1];

}  // namespace

struct FileStream : Stream {};

FileStream* OpenFileStream(const char* name, const char* mode) {
  if (mode[0] != 'w' || mode[1] != 'b' || mode[2] != '\0') return nullptr;
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  if (shell == nullptr || !ToUtf16(name, wideName, 260)) return nullptr;
  // Opening with create does not truncate, so an existing file is removed
  // first; if it could not be removed the open is refused rather than
  // leaving old bytes behind the new ones. Only a file that is there: the
  // shell's delete by name opens with create, which would add a directory
  // entry just to remove it again.
  if (FileExists(name)) shell->DeleteFileByName(wideName);
  SHELL_FILE_HANDLE handle = nullptr;
  if (EfiError(shell->OpenFileByName(wideName, &handle, kEfiFileModeCreate | kEfiFileModeRead | kEfiFileModeWrite)))
    return nullptr;
  uint64_t size = 0;
  if (EfiError(shell->GetFileSize(handle, &size)) || size != 0) {
    shell->CloseFile(handle);
    return nullptr;
  }
  auto* stream = static_cast<FileStream*>(&streams[0]);
  stream->handle = handle;
  stream->failed = false;
  return stream;
}

uint64_t WriteFileStream(FileStream* stream, const void* data, uint64_t size) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  if (shell == nullptr) {
    stream->failed = true;
    return 0;
  }
  UINTN written = size;
  if (EfiError(shell->WriteFile(stream->handle, &written, const_cast<void*>(data)))) {
    stream->failed = true;
    return 0;
  }
  if (written != size) stream->failed = true;
  return written;
}

bool CloseFileStream(FileStream* stream) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  bool closed = shell != nullptr && !EfiError(shell->CloseFile(stream->handle));
  return closed && !stream->failed;
}

bool FileExists(const char* name) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  if (shell == nullptr || !ToUtf16(name, wideName, 260)) return false;
  SHELL_FILE_HANDLE handle = nullptr;
  if (EfiError(shell->OpenFileByName(wideName, &handle, kEfiFileModeRead))) return false;
  shell->CloseFile(handle);
  return true;
}

bool RemoveFile(const char* name) {
  if (!FileExists(name)) return true;
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  if (shell == nullptr || !ToUtf16(name, wideName, 260)) return false;
  return !EfiError(shell->DeleteFileByName(wideName)) && !FileExists(name);
}

// A rename is a SetFileInfo with the new name and everything else as it is.
bool RenameFile(const char* from, const char* to) {
  constexpr unsigned kNameCapacity = 260;
  constexpr UINTN kHeader = offsetof(EFI_FILE_INFO, FileName);
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideFrom[kNameCapacity];
  alignas(8) uint8_t buffer[kHeader + sizeof(CHAR16) * kNameCapacity];
  auto* renamed = reinterpret_cast<EFI_FILE_INFO*>(buffer);
  // The new name is the last part of `to` alone: the file system takes it
  // within the file's own folder.
  const char* toLeaf = to;
  for (const char* c = to; *c != '\0'; ++c)
    if (*c == '/') toLeaf = c + 1;
  if (shell == nullptr || !ToUtf16(from, wideFrom, kNameCapacity) || !ToUtf16(toLeaf, renamed->FileName, kNameCapacity))
    return false;
  // FAT fails a rename onto an existing name; make that so on every file
  // system rather than rely on it.
  if (FileExists(to)) return false;
  SHELL_FILE_HANDLE handle = nullptr;
  if (EfiError(shell->OpenFileByName(wideFrom, &handle, kEfiFileModeRead | kEfiFileModeWrite))) return false;
  bool done = false;
  if (EFI_FILE_INFO* current = shell->GetFileInfo(handle)) {
    UINTN length = 0;
    while (renamed->FileName[length] != 0) ++length;
    memcpy(renamed, current, kHeader);
    renamed->Size = kHeader + sizeof(CHAR16) * (length + 1);
    // Zero times leave the file's own: FAT refuses a time that is not valid,
    // and a file written without a creation date would otherwise never move.
    memset(&renamed->CreateTime, 0, sizeof renamed->CreateTime);
    memset(&renamed->LastAccessTime, 0, sizeof renamed->LastAccessTime);
    memset(&renamed->ModificationTime, 0, sizeof renamed->ModificationTime);
    done = !EfiError(shell->SetFileInfo(handle, renamed));
    gBS->FreePool(current);
  }
  return !EfiError(shell->CloseFile(handle)) && done;
}

namespace {

// 1: a folder of that name exists, 0: nothing of that name, -1: a file.
int FolderState(EFI_SHELL_PROTOCOL* shell, const CHAR16* wideName) {
  SHELL_FILE_HANDLE handle = nullptr;
  if (EfiError(shell->OpenFileByName(wideName, &handle, kEfiFileModeRead))) return 0;
  int state = -1;
  if (EFI_FILE_INFO* info = shell->GetFileInfo(handle)) {
    if ((info->Attribute & kFileDirectory) != 0) state = 1;
    gBS->FreePool(info);
  }
  shell->CloseFile(handle);
  return state;
}

}  // namespace

bool CreateFolder(const char* name) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  if (shell == nullptr || !ToUtf16(name, wideName, 260)) return false;
  int state = FolderState(shell, wideName);
  if (state != 0) return state == 1;
  SHELL_FILE_HANDLE handle = nullptr;
  if (EfiError(shell->CreateFile(wideName, kFileDirectory, &handle))) return false;
  shell->CloseFile(handle);
  return FolderState(shell, wideName) == 1;
}

bool FileIsReadOnly(const char* name) {
  constexpr uint64_t kReadOnly = 0x1;  // EFI_FILE_INFO attribute
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  if (shell == nullptr || !ToUtf16(name, wideName, 260)) return false;
  SHELL_FILE_HANDLE handle = nullptr;
  if (EfiError(shell->OpenFileByName(wideName, &handle, kEfiFileModeRead))) return false;
  bool readOnly = false;
  if (EFI_FILE_INFO* info = shell->GetFileInfo(handle)) {
    readOnly = (info->Attribute & kReadOnly) != 0;
    gBS->FreePool(info);
  }
  shell->CloseFile(handle);
  return readOnly;
}

bool FolderExists(const char* name) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  return shell != nullptr && ToUtf16(name, wideName, 260) && FolderState(shell, wideName) == 1;
}

// The volume of the shell's current directory, asked through its simple file
// system: the shell's own file handles carry no volume information.
bool QueryFreeSpace(uint64_t* freeBytes, uint32_t* clusterBytes) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  if (shell == nullptr) return false;
  auto getCurDir = reinterpret_cast<EfiShellGetCurDir>(shell->GetCurDir);
  auto getDevicePath = reinterpret_cast<EfiShellGetDevicePathFromFilePath>(shell->GetDevicePathFromFilePath);
  const CHAR16* directory = getCurDir(nullptr);
  if (directory == nullptr) return false;
  EFI_DEVICE_PATH_PROTOCOL* path = getDevicePath(directory);
  if (path == nullptr) return false;
  EFI_DEVICE_PATH_PROTOCOL* remaining = path;
  EFI_HANDLE volume = nullptr;
  void* interface = nullptr;
  auto locateDevicePath = reinterpret_cast<EfiLocateDevicePath>(gBS->LocateDevicePath);
  bool found = !EfiError(locateDevicePath(&kSimpleFileSystemProtocolGuid, &remaining, &volume)) &&
               !EfiError(gBS->HandleProtocol(volume, &kSimpleFileSystemProtocolGuid, &interface));
  gBS->FreePool(path);
  if (!found) return false;
  auto* fileSystem = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*>(interface);
  EFI_FILE_PROTOCOL* root = nullptr;
  if (EfiError(fileSystem->OpenVolume(fileSystem, &root))) return false;
  return QueryRootFreeSpace(root, freeBytes, clusterBytes);
}

bool RemoveEmptyFolder(const char* name) {
  EFI_SHELL_PROTOCOL* shell = Shell();
  CHAR16 wideName[260];
  if (shell == nullptr || !ToUtf16(name, wideName, 260)) return false;
  if (FolderState(shell, wideName) == 0) return true;
  return !EfiError(shell->DeleteFileByName(wideName)) && FolderState(shell, wideName) == 0;
}
