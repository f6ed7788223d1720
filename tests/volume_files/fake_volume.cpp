// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/volume_files/fake_volume.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/efi_globals.h"
#include "runtime/efi_loaded_image.h"

namespace {

constexpr EFI_STATUS kWriteProtected = kEfiErrorBit | 8;
constexpr EFI_STATUS kAccessDenied = kEfiErrorBit | 15;
constexpr EFI_STATUS kVolumeFull = kEfiErrorBit | 11;
constexpr EFI_STATUS kBufferTooSmall = kEfiErrorBit | 5;

FakeVolume* gFake = nullptr;

struct Handle {
  EFI_FILE_PROTOCOL Protocol;
  std::string Path;
  uint64_t Position = 0;
  size_t NextChild = 0;
};

Handle* Of(EFI_FILE_PROTOCOL* self) { return reinterpret_cast<Handle*>(self); }

std::string Narrow(const CHAR16* wide) {
  std::string out;
  for (; *wide != 0; ++wide) out += static_cast<char>(*wide);
  return out;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> ChildrenOf(const std::string& folder) {
  std::vector<std::string> children;
  for (const auto& [path, entry] : gFake->Entries)
    if (!path.empty() && ParentOf(path) == folder) children.push_back(path);
  return children;
}

uint64_t Clusters(uint64_t bytes) { return (bytes + gFake->ClusterBytes - 1) / gFake->ClusterBytes; }

EFI_STATUS FileInfo(const std::string& path, UINTN* size, void* buffer) {
  const FakeEntry& entry = gFake->Entries.at(path);
  std::string leaf = LeafOf(path);
  UINTN needed = offsetof(EFI_FILE_INFO, FileName) + sizeof(CHAR16) * (leaf.size() + 1);
  if (*size < needed) {
    *size = needed;
    return kBufferTooSmall;
  }
  std::memset(buffer, 0, needed);
  auto* info = static_cast<EFI_FILE_INFO*>(buffer);
  info->Size = needed;
  info->FileSize = entry.Data.size();
  info->Attribute = entry.Folder ? 0x10 : 0;
  for (size_t i = 0; i <= leaf.size(); ++i) info->FileName[i] = i < leaf.size() ? leaf[i] : 0;
  *size = needed;
  return kEfiSuccess;
}

EFI_STATUS EFIAPI Open(EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** handle, const CHAR16* name, uint64_t mode,
                       uint64_t attributes);

EFI_STATUS EFIAPI Close(EFI_FILE_PROTOCOL* self) {
  delete Of(self);
  --gFake->OpenHandles;
  return kEfiSuccess;
}

EFI_STATUS EFIAPI Delete(EFI_FILE_PROTOCOL* self) {
  std::string path = Of(self)->Path;
  Close(self);
  constexpr EFI_STATUS kWarnDeleteFailure = 2;
  if (gFake->Fail.CreateRefused || gFake->Fail.DeleteRefused || !ChildrenOf(path).empty()) return kWarnDeleteFailure;
  gFake->FreeBytes += Clusters(gFake->Entries.at(path).Data.size()) * gFake->ClusterBytes;
  gFake->Entries.erase(path);
  return kEfiSuccess;
}

EFI_STATUS EFIAPI Read(EFI_FILE_PROTOCOL* self, UINTN* size, void* buffer) {
  Handle* handle = Of(self);
  const FakeEntry& entry = gFake->Entries.at(handle->Path);
  if (entry.Folder) {
    std::vector<std::string> children = ChildrenOf(handle->Path);
    if (handle->NextChild >= children.size()) {
      *size = 0;
      return kEfiSuccess;
    }
    EFI_STATUS status = FileInfo(children[handle->NextChild], size, buffer);
    if (status == kEfiSuccess) ++handle->NextChild;
    return status;
  }
  uint64_t left = entry.Data.size() - std::min<uint64_t>(handle->Position, entry.Data.size());
  UINTN count = std::min<uint64_t>(*size, left);
  std::memcpy(buffer, entry.Data.data() + handle->Position, count);
  if (gFake->Fail.ReadFlipsAByte && count != 0) static_cast<char*>(buffer)[0] ^= 1;
  handle->Position += count;
  *size = count;
  return kEfiSuccess;
}

EFI_STATUS EFIAPI Write(EFI_FILE_PROTOCOL* self, UINTN* size, const void* buffer) {
  Handle* handle = Of(self);
  FakeEntry& entry = gFake->Entries.at(handle->Path);
  if (entry.Folder) return kEfiUnsupported;
  if (gFake->Fail.WritesBeforeFailure == 0) gFake->Fail.WriteFails = true;
  if (gFake->Fail.WritesBeforeFailure != UINT64_MAX && gFake->Fail.WritesBeforeFailure != 0)
    --gFake->Fail.WritesBeforeFailure;
  if (gFake->Fail.WriteFails || gFake->Fail.CreateRefused) {
    *size = 0;
    return kEfiDeviceError;
  }
  // Whole clusters: what fits in the free ones is written, the rest refused.
  uint64_t end = handle->Position + *size;
  uint64_t grow = Clusters(end) > Clusters(entry.Data.size()) ? Clusters(end) - Clusters(entry.Data.size()) : 0;
  EFI_STATUS status = kEfiSuccess;
  if (grow * gFake->ClusterBytes > gFake->FreeBytes) {
    uint64_t room = Clusters(entry.Data.size()) * gFake->ClusterBytes + gFake->FreeBytes;
    *size = room > handle->Position ? room - handle->Position : 0;
    end = handle->Position + *size;
    grow = Clusters(end) - Clusters(entry.Data.size());
    status = kVolumeFull;
  }
  gFake->FreeBytes -= grow * gFake->ClusterBytes;
  if (entry.Data.size() < end) entry.Data.resize(end);
  std::memcpy(entry.Data.data() + handle->Position, buffer, *size);
  handle->Position = end;
  return status;
}

EFI_STATUS EFIAPI GetInfo(EFI_FILE_PROTOCOL* self, const EFI_GUID* type, UINTN* size, void* buffer) {
  if (std::memcmp(type, &kFileInfoGuid, sizeof(EFI_GUID)) == 0) return FileInfo(Of(self)->Path, size, buffer);
  if (std::memcmp(type, &kFileSystemInfoGuid, sizeof(EFI_GUID)) != 0 || gFake->Fail.InfoUnreported)
    return kEfiUnsupported;
  UINTN needed = offsetof(EFI_FILE_SYSTEM_INFO, VolumeLabel) + sizeof(CHAR16);
  if (*size < needed) return kBufferTooSmall;
  std::memset(buffer, 0, needed);
  auto* info = static_cast<EFI_FILE_SYSTEM_INFO*>(buffer);
  info->Size = needed;
  info->FreeSpace = gFake->FreeBytes;
  info->BlockSize = gFake->ClusterBytes;
  return kEfiSuccess;
}

// A FileName without '\' renames within the entry's folder; FAT refuses a
// name that is taken.
EFI_STATUS EFIAPI SetInfo(EFI_FILE_PROTOCOL* self, const EFI_GUID* type, UINTN, const void* buffer) {
  if (std::memcmp(type, &kFileInfoGuid, sizeof(EFI_GUID)) != 0) return kEfiUnsupported;
  Handle* handle = Of(self);
  std::string leaf = Narrow(static_cast<const EFI_FILE_INFO*>(buffer)->FileName);
  if (leaf == LeafOf(handle->Path)) return kEfiSuccess;
  if (gFake->Fail.RenameFails || leaf.find('\\') != std::string::npos) return kAccessDenied;
  std::string parent = ParentOf(handle->Path);
  std::string target = parent.empty() ? leaf : parent + "\\" + leaf;
  if (gFake->Entries.count(target) != 0) return kAccessDenied;
  gFake->Entries[target] = gFake->Entries.at(handle->Path);
  gFake->Entries.erase(handle->Path);
  handle->Path = target;
  return kEfiSuccess;
}

EFI_STATUS EFIAPI Flush(EFI_FILE_PROTOCOL*) { return gFake->Fail.FlushFails ? kEfiDeviceError : kEfiSuccess; }

EFI_FILE_PROTOCOL* NewHandle(const std::string& path) {
  auto* handle = new Handle{};
  handle->Path = path;
  EFI_FILE_PROTOCOL& p = handle->Protocol;
  p.Open = Open;
  p.Close = Close;
  p.Delete = Delete;
  p.Read = Read;
  p.Write = Write;
  p.GetInfo = GetInfo;
  p.SetInfo = SetInfo;
  p.Flush = Flush;
  ++gFake->OpenHandles;
  return &p;
}

EFI_STATUS EFIAPI Open(EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** opened, const CHAR16* name, uint64_t mode,
                       uint64_t attributes) {
  std::string path = Narrow(name);
  if (!path.empty() && path[0] == '\\')
    path = path.substr(1);
  else if (!Of(self)->Path.empty())
    path = Of(self)->Path + "\\" + path;
  if (gFake->Entries.count(path) == 0) {
    if ((mode & kEfiFileModeCreate) == 0) return kEfiNotFound;
    if (gFake->Fail.CreateRefused) return kWriteProtected;
    auto parent = gFake->Entries.find(ParentOf(path));
    if (parent == gFake->Entries.end() || !parent->second.Folder) return kEfiNotFound;
    if ((attributes & 0x10) != 0) {
      if (gFake->FreeBytes < gFake->ClusterBytes) return kVolumeFull;
      gFake->FreeBytes -= gFake->ClusterBytes;
    }
    gFake->Entries[path] = FakeEntry{(attributes & 0x10) != 0, {}};
  }
  *opened = NewHandle(path);
  return kEfiSuccess;
}

EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*, EFI_FILE_PROTOCOL** root) {
  *root = NewHandle("");
  return kEfiSuccess;
}

EFI_SIMPLE_FILE_SYSTEM_PROTOCOL gFileSystem{0x10000, OpenVolume};
int gDevice;
int gImage;
EFI_LOADED_IMAGE_HEAD gLoadedImage{};
EFI_BOOT_SERVICES gBootServices{};
EFI_SYSTEM_TABLE gSystemTable{};

EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE handle, const EFI_GUID* protocol, void** interface) {
  *interface = nullptr;
  if (handle == &gImage && std::memcmp(protocol, &kLoadedImageProtocolGuid, sizeof(EFI_GUID)) == 0) {
    *interface = &gLoadedImage;
    return kEfiSuccess;
  }
  if (handle == &gDevice && gFake != nullptr &&
      std::memcmp(protocol, &kSimpleFileSystemProtocolGuid, sizeof(EFI_GUID)) == 0) {
    *interface = &gFileSystem;
    return kEfiSuccess;
  }
  return kEfiUnsupported;
}

}  // namespace

void InstallFakeVolume(FakeVolume* volume) {
  gFake = volume;
  gLoadedImage.DeviceHandle = &gDevice;
  gBootServices.HandleProtocol = HandleProtocol;
  gSystemTable.BootServices = &gBootServices;
  gImageHandle = &gImage;
  gST = &gSystemTable;
  gBS = &gBootServices;
}
