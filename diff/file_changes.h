// The files of two dumps' firmware trees matched by (path, GUID, index):
// changed, moved, or present on one side only. Files equal at the same
// place are left out.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fwtree/firmware_tree.h"

namespace pdiff {

enum class FileChangeKind { Changed, Moved, OnlyInMain, OnlyInBackup };

const char* FileChangeName(FileChangeKind kind);

struct FileChange {
  FileChangeKind kind;
  const fwtree::TreeFile* main;    // null when only in Backup
  const fwtree::TreeFile* backup;  // null when only in Main
  bool masked = false;             // changed, but only in bytes the board masks
};

struct FileChangeCounts {
  uint64_t changed = 0;
  uint64_t moved = 0;
  uint64_t onlyInMain = 0;
  uint64_t onlyInBackup = 0;
  uint64_t compressed = 0;  // of the above, inside compressed encapsulations
};

// Flash offset of a file offset of that dump (files are placed at the top
// of the flash part); the identity for a whole part.
using FlashOffsetOf = std::function<uint64_t(int dump, uint64_t fileOffset)>;
// Whether the flash byte at this offset is masked on the board.
using IsMasked = std::function<bool(uint64_t flashOffset)>;

// Main's files in order, then the files only in Backup in Backup's order.
std::vector<FileChange> CompareFileTrees(const fwtree::FirmwareTree& main, const fwtree::FirmwareTree& backup,
                                         const FlashOffsetOf& flashOffset, const IsMasked& isMasked);

FileChangeCounts CountFileChanges(const std::vector<FileChange>& changes);

}  // namespace pdiff
