// SPDX-License-Identifier: BSD-2-Clause-Patent
// The files of two dumps' firmware trees matched by (path, GUID, index):
// changed, moved, or present on one side only; a section one side cannot
// open, and the files it hides; changes that lie only in masked bytes.
// Files equal at the same place are left out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fwtree/firmware_tree.h"

namespace pdiff {

enum class FileChangeKind {
  Changed,
  Moved,
  OnlyInMain,
  OnlyInBackup,
  UnreadableInMain,    // Backup opens it, Main cannot: not a removal
  UnreadableInBackup,  // Main opens it, Backup cannot
  HiddenInMain,        // inside a file Main cannot open: not a removal
  HiddenInBackup,
  MaskedOnly,  // differs only in bytes the board masks, or lies in a masked area
};

const char* FileChangeName(FileChangeKind kind);

struct FileChange {
  FileChangeKind kind;
  const fwtree::TreeFile* main;    // null when only in Backup
  const fwtree::TreeFile* backup;  // null when only in Main
  bool masked = false;             // differing bytes (or the file) all in masked areas
  bool contentChanged = false;     // a moved file whose bytes differ too
  // The file that cannot be opened on the other side, for a hidden file;
  // the reason, for an unreadable one.
  const fwtree::TreeFile* hiddenBy = nullptr;
  std::string reason = {};

  // A file whose volume path differs on the two sides (unique GUID and
  // name on each): moved from one volume to another.
  bool BetweenVolumes() const { return main != nullptr && backup != nullptr && main->path != backup->path; }
};

struct FileChangeCounts {
  uint64_t changed = 0;
  uint64_t moved = 0;
  uint64_t onlyInMain = 0;
  uint64_t onlyInBackup = 0;
  uint64_t unreadable = 0;  // on either side
  uint64_t hidden = 0;      // by an unreadable file, on either side
  uint64_t maskedOnly = 0;  // not counted above
  uint64_t compressed = 0;  // of the changed, moved and one-sided, inside compressed encapsulations
};

// Flash offset of a file offset of that dump (files are placed at the top
// of the flash part); the identity for a whole part.
using FlashOffsetOf = std::function<uint64_t(int dump, uint64_t fileOffset)>;
// Whether every flash byte of [begin, end) is masked on the board (for one
// byte: end = begin + 1).
using IsMasked = std::function<bool(uint64_t begin, uint64_t end)>;

// Main's files in order, then the files only in Backup in Backup's order.
std::vector<FileChange> CompareFileTrees(const fwtree::FirmwareTree& main, const fwtree::FirmwareTree& backup,
                                         const FlashOffsetOf& flashOffset, const IsMasked& isMasked);

FileChangeCounts CountFileChanges(const std::vector<FileChange>& changes);

}  // namespace pdiff
