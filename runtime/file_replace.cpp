// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "runtime/file_replace.h"

#include "runtime/print.h"

namespace {

void JoinName(char* out, unsigned capacity, const char* name, const char* suffix) {
  unsigned length = 0;
  for (; name[length] != '\0' && length + 1 < capacity; ++length) out[length] = name[length];
  for (unsigned i = 0; suffix[i] != '\0' && length + 1 < capacity; ++i) out[length++] = suffix[i];
  out[length] = '\0';
}

}  // namespace

SafeFileNames SafeNamesFor(const char* fileName) {
  SafeFileNames names;
  JoinName(names.Final, sizeof names.Final, fileName, "");
  JoinName(names.Fresh, sizeof names.Fresh, names.Final, ".NEW");
  JoinName(names.Old, sizeof names.Old, names.Final, ".OLD");
  return names;
}

bool NamesHoldNoFolder(const SafeFileNames& names) {
  return !FolderExists(names.Final) && !FolderExists(names.Fresh) && !FolderExists(names.Old);
}

bool VolumeHasRoomFor(uint64_t bytes) {
  uint64_t freeBytes = 0;
  uint32_t clusterBytes = 0;
  if (!QueryFreeSpace(&freeBytes, &clusterBytes)) return true;
  uint64_t cluster = clusterBytes != 0 ? clusterBytes : 1;
  uint64_t clusters = (bytes + cluster - 1) / cluster;
  return freeBytes >= (clusters + 1) * cluster;
}

bool ReplaceWithNewEntry(const SafeFileNames& names, RemoveEntry remove) {
  bool hadEarlier = FileExists(names.Final);
  if (hadEarlier) {
    // An aside entry next to the final one is left over from an interrupted
    // run; the final one is the newer of the two.
    if (!remove(names.Old) || !RenameFile(names.Final, names.Old)) return false;
  }
  if (!RenameFile(names.Fresh, names.Final)) {
    if (hadEarlier) RenameFile(names.Old, names.Final);
    return false;
  }
  if (hadEarlier) remove(names.Old);
  return true;
}

bool ReplaceWithNewFile(const SafeFileNames& names) { return ReplaceWithNewEntry(names, RemoveFile); }

bool WriteInChunks(FileStream* stream, const uint8_t* data, uint32_t size, uint32_t chunkSize, const char* caption) {
  for (uint64_t k = 0; k * chunkSize < size; ++k) {
    uint64_t offset = k * chunkSize;
    uint64_t count = size - offset < chunkSize ? size - offset : chunkSize;
    bool written = WriteFileStream(stream, data + offset, count) == count;
    Print("%c%s%d%%", kCarriageReturn, caption, ProgressPercent((k + 1) * chunkSize, size));
    if (!written) return false;
  }
  return true;
}
