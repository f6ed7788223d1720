// SPDX-License-Identifier: BSD-2-Clause-Patent
// The file interface over EFI_SIMPLE_FILE_SYSTEM_PROTOCOL on the loaded
// image's device: the boot application's files, with no shell in between.
#include "runtime/volume_files.h"

#include "runtime/efi_file_system.h"
#include "runtime/efi_globals.h"
#include "runtime/efi_loaded_image.h"
#include "runtime/file_stream.h"
#include "runtime/memory.h"

namespace {

constexpr uint64_t kFileDirectory = 0x10;
constexpr uint64_t kFileReadOnly = 0x1;
constexpr unsigned kPathCapacity = 160;

EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* gVolume = nullptr;
char gFolder[16] = "";

// "\FOLDER\NAME" in UTF-16, '/' as '\'; false for a name too long or not
// ASCII, which is refused rather than cut.
bool FullPath(const char* name, CHAR16* out) {
  unsigned length = 0;
  auto put = [&](char c) {
    if (length + 1 >= kPathCapacity || static_cast<uint8_t>(c) >= 0x80) return false;
    out[length++] = c == '/' ? u'\\' : static_cast<CHAR16>(c);
    return true;
  };
  if (!put('\\')) return false;
  for (const char* c = gFolder; *c != '\0'; ++c)
    if (!put(*c)) return false;
  if (gFolder[0] != '\0' && !put('\\')) return false;
  for (const char* c = name; *c != '\0'; ++c)
    if (!put(*c)) return false;
  out[length] = 0;
  return true;
}

EFI_FILE_PROTOCOL* OpenRoot() {
  EFI_FILE_PROTOCOL* root = nullptr;
  if (gVolume == nullptr || EfiError(gVolume->OpenVolume(gVolume, &root))) return nullptr;
  return root;
}

// Opens `name` of the working folder; null when it cannot be opened so.
EFI_FILE_PROTOCOL* OpenPath(const char* name, uint64_t mode, uint64_t attributes) {
  CHAR16 path[kPathCapacity];
  if (!FullPath(name, path)) return nullptr;
  EFI_FILE_PROTOCOL* root = OpenRoot();
  if (root == nullptr) return nullptr;
  EFI_FILE_PROTOCOL* file = nullptr;
  EFI_STATUS status = root->Open(root, &file, path, mode, attributes);
  root->Close(root);
  return EfiError(status) ? nullptr : file;
}

// The file's information in `buffer`; false when not reported.
bool InfoOf(EFI_FILE_PROTOCOL* file, uint8_t* buffer, UINTN capacity) {
  UINTN size = capacity;
  return !EfiError(file->GetInfo(file, &kFileInfoGuid, &size, buffer));
}

constexpr UINTN kInfoCapacity = offsetof(EFI_FILE_INFO, FileName) + sizeof(CHAR16) * kPathCapacity;

// 1: a folder, -1: a file, 0: nothing of that name.
int EntryKind(const char* name, uint64_t* attributes = nullptr) {
  EFI_FILE_PROTOCOL* file = OpenPath(name, kEfiFileModeRead, 0);
  if (file == nullptr) return 0;
  alignas(8) uint8_t buffer[kInfoCapacity];
  int kind = -1;
  if (InfoOf(file, buffer, sizeof buffer)) {
    uint64_t attribute = reinterpret_cast<EFI_FILE_INFO*>(buffer)->Attribute;
    if (attributes != nullptr) *attributes = attribute;
    if ((attribute & kFileDirectory) != 0) kind = 1;
  }
  file->Close(file);
  return kind;
}

bool DeleteEntry(const char* name) {
  EFI_FILE_PROTOCOL* file = OpenPath(name, kEfiFileModeRead | kEfiFileModeWrite, 0);
  if (file == nullptr) return EntryKind(name) == 0;
  file->Delete(file);
  return EntryKind(name) == 0;
}

struct Stream {
  EFI_FILE_PROTOCOL* file;
  bool failed;
};
Stream gStream;

// Zero-initialised with the image's data: no constructor runs before entry.
struct Log {
  EFI_FILE_PROTOCOL* file;
  uint64_t bound;
  uint64_t written;
  char pending[4096];
  unsigned pendingLength;
  // A write the stick refused: nothing more is written, so the log stays an
  // unbroken start of the run.
  bool failed;
  bool pastBound;  // text came after the bound and was dropped
};
Log gLog;

}  // namespace

struct FileStream : Stream {};

bool OpenLoadedVolume() {
  void* interface = nullptr;
  if (EfiError(gBS->HandleProtocol(gImageHandle, &kLoadedImageProtocolGuid, &interface)) || interface == nullptr)
    return false;
  EFI_HANDLE device = static_cast<EFI_LOADED_IMAGE_HEAD*>(interface)->DeviceHandle;
  if (EfiError(gBS->HandleProtocol(device, &kSimpleFileSystemProtocolGuid, &interface)) || interface == nullptr)
    return false;
  gVolume = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*>(interface);
  return true;
}

void SetWorkingFolder(const char* folder) {
  unsigned i = 0;
  for (; folder[i] != '\0' && i + 1 < sizeof gFolder; ++i) gFolder[i] = folder[i];
  gFolder[i] = '\0';
}

bool ForEachRootEntry(void (*visit)(void* context, const char* name), void* context) {
  EFI_FILE_PROTOCOL* root = OpenRoot();
  if (root == nullptr) return false;
  alignas(8) uint8_t buffer[offsetof(EFI_FILE_INFO, FileName) + sizeof(CHAR16) * 256];
  bool whole = true;
  for (;;) {
    UINTN size = sizeof buffer;
    if (EfiError(root->Read(root, &size, buffer))) {
      whole = false;
      break;
    }
    if (size == 0) break;
    const CHAR16* wide = reinterpret_cast<EFI_FILE_INFO*>(buffer)->FileName;
    char name[256];
    unsigned i = 0;
    for (; wide[i] != 0 && i + 1 < sizeof name; ++i) name[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
    name[i] = '\0';
    visit(context, name);
  }
  root->Close(root);
  return whole;
}

FileStream* OpenFileStream(const char* name, const char* mode) {
  if (mode[0] != 'w' || mode[1] != 'b' || mode[2] != '\0') return nullptr;
  // Opening with create does not truncate: an earlier file goes first, and
  // one that would not go refuses the open rather than keep old bytes.
  if (EntryKind(name) == -1 && !DeleteEntry(name)) return nullptr;
  EFI_FILE_PROTOCOL* file = OpenPath(name, kEfiFileModeCreate | kEfiFileModeRead | kEfiFileModeWrite, 0);
  if (file == nullptr) return nullptr;
  gStream.file = file;
  gStream.failed = false;
  return static_cast<FileStream*>(&gStream);
}

uint64_t WriteFileStream(FileStream* stream, const void* data, uint64_t size) {
  UINTN written = size;
  if (EfiError(stream->file->Write(stream->file, &written, data))) {
    stream->failed = true;
    return 0;
  }
  if (written != size) stream->failed = true;
  return written;
}

bool CloseFileStream(FileStream* stream) {
  bool flushed = !EfiError(stream->file->Flush(stream->file));
  bool closed = !EfiError(stream->file->Close(stream->file));
  return flushed && closed && !stream->failed;
}

uint64_t ReadVolumeFile(const char* name, void* buffer, uint64_t capacity) {
  EFI_FILE_PROTOCOL* file = OpenPath(name, kEfiFileModeRead, 0);
  if (file == nullptr) return 0;
  uint64_t total = 0;
  while (total < capacity) {
    UINTN size = capacity - total;
    if (EfiError(file->Read(file, &size, static_cast<uint8_t*>(buffer) + total)) || size == 0) break;
    total += size;
  }
  file->Close(file);
  return total;
}

bool FileExists(const char* name) { return EntryKind(name) != 0; }

bool FolderExists(const char* name) { return EntryKind(name) == 1; }

bool FileIsReadOnly(const char* name) {
  uint64_t attributes = 0;
  return EntryKind(name, &attributes) != 0 && (attributes & kFileReadOnly) != 0;
}

bool QueryFreeSpace(uint64_t* freeBytes, uint32_t* clusterBytes) {
  EFI_FILE_PROTOCOL* root = OpenRoot();
  if (root == nullptr) return false;
  return QueryRootFreeSpace(root, freeBytes, clusterBytes);
}

bool RemoveFile(const char* name) { return EntryKind(name) == 0 || DeleteEntry(name); }

// A rename is a SetInfo with the new leaf name and everything else as it is;
// the file system takes a name without a leading '\' within the file's own
// folder.
bool RenameFile(const char* from, const char* to) {
  const char* toLeaf = to;
  for (const char* c = to; *c != '\0'; ++c)
    if (*c == '/') toLeaf = c + 1;
  if (EntryKind(to) != 0) return false;
  EFI_FILE_PROTOCOL* file = OpenPath(from, kEfiFileModeRead | kEfiFileModeWrite, 0);
  if (file == nullptr) return false;
  alignas(8) uint8_t buffer[kInfoCapacity];
  bool done = InfoOf(file, buffer, sizeof buffer);
  auto* info = reinterpret_cast<EFI_FILE_INFO*>(buffer);
  UINTN length = 0;
  for (; done && toLeaf[length] != '\0'; ++length) {
    if (length + 1 >= kPathCapacity || static_cast<uint8_t>(toLeaf[length]) >= 0x80) done = false;
    info->FileName[length] = static_cast<CHAR16>(toLeaf[length]);
  }
  if (done) {
    info->FileName[length] = 0;
    info->Size = offsetof(EFI_FILE_INFO, FileName) + sizeof(CHAR16) * (length + 1);
    // Zero times leave the file's own: FAT refuses a time that is not valid.
    memset(&info->CreateTime, 0, sizeof info->CreateTime);
    memset(&info->LastAccessTime, 0, sizeof info->LastAccessTime);
    memset(&info->ModificationTime, 0, sizeof info->ModificationTime);
    done = !EfiError(file->SetInfo(file, &kFileInfoGuid, info->Size, info));
  }
  return !EfiError(file->Close(file)) && done;
}

bool CreateFolder(const char* name) {
  int kind = EntryKind(name);
  if (kind != 0) return kind == 1;
  EFI_FILE_PROTOCOL* folder = OpenPath(name, kEfiFileModeCreate | kEfiFileModeRead | kEfiFileModeWrite, kFileDirectory);
  if (folder == nullptr) return false;
  folder->Close(folder);
  return EntryKind(name) == 1;
}

bool VolumeFileSize(const char* name, uint64_t* size) {
  *size = 0;
  EFI_FILE_PROTOCOL* file = OpenPath(name, kEfiFileModeRead, 0);
  if (file == nullptr) return false;
  alignas(8) uint8_t buffer[offsetof(EFI_FILE_INFO, FileName) + sizeof(CHAR16) * 256];
  bool known = InfoOf(file, buffer, sizeof buffer);
  const auto* info = reinterpret_cast<const EFI_FILE_INFO*>(buffer);
  known = known && (info->Attribute & kFileDirectory) == 0;
  if (known) *size = info->FileSize;
  file->Close(file);
  return known;
}

bool RemoveEmptyFolder(const char* name) { return EntryKind(name) == 0 || DeleteEntry(name); }

bool OpenVolumeLog(const char* name, uint64_t bound) {
  if (EntryKind(name) == -1 && !DeleteEntry(name)) return false;
  EFI_FILE_PROTOCOL* file = OpenPath(name, kEfiFileModeCreate | kEfiFileModeRead | kEfiFileModeWrite, 0);
  if (file == nullptr) return false;
  gLog.file = file;
  gLog.bound = bound;
  gLog.written = 0;
  gLog.pendingLength = 0;
  gLog.failed = false;
  gLog.pastBound = false;
  // A log that takes no bytes is no log: a write-protected or full stick
  // answers here.
  UINTN size = 0;
  if (EfiError(file->Write(file, &size, "")) || EfiError(file->Flush(file))) {
    CloseVolumeLog();
    return false;
  }
  return true;
}

void AppendVolumeLog(const char* text, unsigned length) {
  if (gLog.file == nullptr) return;
  for (unsigned i = 0; i < length && !gLog.failed; ++i) {
    if (gLog.written + gLog.pendingLength >= gLog.bound) {
      gLog.pastBound = true;
      return;
    }
    if (gLog.pendingLength == sizeof gLog.pending) FlushVolumeLog();
    if (!gLog.failed) gLog.pending[gLog.pendingLength++] = text[i];
  }
}

void FlushVolumeLog() {
  if (gLog.file == nullptr || gLog.pendingLength == 0 || gLog.failed) return;
  UINTN size = gLog.pendingLength;
  bool whole = !EfiError(gLog.file->Write(gLog.file, &size, gLog.pending)) && size == gLog.pendingLength;
  whole = !EfiError(gLog.file->Flush(gLog.file)) && whole;
  // Only what the stick took counts as written.
  gLog.written += size <= gLog.pendingLength ? size : 0;
  gLog.pendingLength = 0;
  if (!whole) gLog.failed = true;
}

bool VolumeLogWhole() { return !gLog.failed && !gLog.pastBound; }

void CloseVolumeLog() {
  if (gLog.file == nullptr) return;
  FlushVolumeLog();
  gLog.file->Close(gLog.file);
  gLog.file = nullptr;
}
