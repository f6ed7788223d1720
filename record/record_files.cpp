// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/record_files.h"

#include "runtime/file_replace.h"
#include "runtime/print.h"

namespace {

struct RecordFile {
  const char* name;     // within the folder
  const char* caption;  // progress caption
  const uint8_t* data;
  uint32_t size;
  uint32_t chunkSize;
};

constexpr unsigned kFileCount = 3;

// Every name a record folder may hold: the three files, and the temporary
// and aside names that records written file by file left behind.
constexpr const char* kRecordNames[] = {
    "main.rom",       "backup.rom",   "board.json",     "main.rom.NEW",   "backup.rom.NEW",
    "board.json.NEW", "main.rom.OLD", "backup.rom.OLD", "board.json.OLD",
};

void JoinPath(char* out, unsigned capacity, const char* folder, const char* name) {
  unsigned length = 0;
  for (const char* c = folder; *c != '\0' && length + 1 < capacity; ++c) out[length++] = *c;
  if (length + 1 < capacity) out[length++] = '/';
  for (const char* c = name; *c != '\0' && length + 1 < capacity; ++c) out[length++] = *c;
  out[length] = '\0';
}

// Removes a record folder and what a record puts in it; a folder holding
// anything else stays, and the removal fails.
bool RemoveRecordFolder(const char* folder) {
  if (!FileExists(folder)) return true;
  if (!FolderExists(folder)) return false;
  char path[96];
  for (const char* name : kRecordNames) {
    JoinPath(path, sizeof path, folder, name);
    if (!RemoveFile(path)) return false;
  }
  return RemoveEmptyFolder(folder);
}

// True when RemoveRecordFolder would remove the whole folder, as far as can
// be told beforehand: no record file in it is read-only.
bool RecordFolderIsRemovable(const char* folder) {
  if (!FileExists(folder)) return true;
  if (!FolderExists(folder)) return false;
  char path[96];
  for (const char* name : kRecordNames) {
    JoinPath(path, sizeof path, folder, name);
    if (FileIsReadOnly(path)) return false;
  }
  return true;
}

bool WriteFileInto(const char* folder, const RecordFile& file) {
  char path[96];
  JoinPath(path, sizeof path, folder, file.name);
  FileStream* stream = OpenFileStream(path, "wb");
  if (stream == nullptr) return false;
  bool written = WriteInChunks(stream, file.data, file.size, file.chunkSize, file.caption);
  Print("\n");
  return CloseFileStream(stream) && written;
}

// The record's bytes, each file in whole clusters, plus a cluster for the
// folder's own entries.
uint64_t RecordBytes(const RecordFile* files) {
  uint64_t total = 4096;
  for (unsigned i = 0; i < kFileCount; ++i)
    if (files[i].data != nullptr) total += (static_cast<uint64_t>(files[i].size) + 4095) / 4096 * 4096;
  return total;
}

}  // namespace

bool WriteRecordFiles(const BoardRecord& record, const TextBuffer& json) {
  const ChipRecord& main = record.Chips[0];
  const ChipRecord& backup = record.Chips[1];
  const RecordFile files[kFileCount] = {
      {"main.rom", "Writing main.rom ................ ", main.Image, main.FlashSize, main.BlockSize},
      {"backup.rom", "Writing backup.rom .............. ", backup.Image, backup.FlashSize, backup.BlockSize},
      {"board.json", "Writing board.json .............. ", reinterpret_cast<const uint8_t*>(json.Data), json.Length,
       json.Length},
  };
  SafeFileNames names = SafeNamesFor(kRecordFolder);
  // An earlier record that is not a folder, or that could not be removed
  // whole once its successor stands, is left as it is; a leftover new folder
  // is removed (it can only be an interrupted run's).
  if (!RecordFolderIsRemovable(names.Final) || !RecordFolderIsRemovable(names.Old)) return false;
  if (!VolumeHasRoomFor(RecordBytes(files)) || !RemoveRecordFolder(names.Fresh)) return false;
  bool written = CreateFolder(names.Fresh);
  // A chip that was never read has no file.
  for (unsigned i = 0; i < kFileCount && written; ++i)
    if (files[i].data != nullptr) written = WriteFileInto(names.Fresh, files[i]);
  // The whole folder takes the record's name at once: an earlier record
  // stays whole until a complete one stands beside it.
  written = written && ReplaceWithNewEntry(names, RemoveRecordFolder);
  if (!written) RemoveRecordFolder(names.Fresh);
  return written;
}
