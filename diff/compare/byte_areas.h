// SPDX-License-Identifier: BSD-2-Clause-Patent
// Every byte of both dumps accounted for, whatever the board compares: the
// dumps placed in one part, their differing bytes counted by the
// area that holds them (the window the board compares, the masked areas,
// each flash descriptor region), and what one dump has beyond the other's
// start. Counts do not depend on which dump is Main.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "diff/compare/chip_dump.h"

namespace pdiff {

struct AreaDifference {
  std::string name;
  uint64_t differingBytes = 0;
};

struct LengthDifference {
  int longer = -1;  // 0 Main, 1 Backup, -1 the same length
  uint64_t bytes = 0;
  uint64_t notErased = 0;   // of those, bytes other than 0xFF
  uint64_t beyondPart = 0;  // of those, bytes past the end of the flash part
};

struct WholeFileDifferences {
  bool identical = true;                             // the files hold the same bytes
  std::vector<std::string> descriptorDisagreements;  // one line each
  std::vector<AreaDifference> areas;                 // areas that differ, lowest first
  uint64_t differingBytes = 0;                       // in the bytes both dumps hold
  LengthDifference length;
};

// The board's window and the masked areas are given as [begin, end) flash
// offsets of a part of `flashSize` bytes; `starts` are the flash offsets of
// Main's and Backup's first bytes (below 0 for a dump longer than the part
// placed at its top).
struct BoardAreas {
  uint64_t flashSize;
  std::pair<uint64_t, uint64_t> window;
  std::vector<std::pair<uint64_t, uint64_t>> masked;  // sorted, disjoint
  std::pair<int64_t, int64_t> starts;
};

// The two files' raw bytes (before masking) compared whole.
WholeFileDifferences CompareWholeFiles(const ChipDump& main, const ChipDump& backup, const BoardAreas& board);

// Whether two loaded dumps hold exactly the same bytes.
bool SameFiles(const ChipDump& main, const ChipDump& backup);

}  // namespace pdiff
