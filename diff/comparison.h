// The comparison test of the board replayed on two dumps: the geometry it
// would use, its identity checks, its block compare and verdict, and what
// the dumps' differences are, named by where they lie.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diff/chip_dump.h"
#include "diff/differences.h"

namespace pdiff {

struct CompareOptions {
  std::optional<uint32_t> blockSize;  // overrides the descriptor's
  bool rawMasked = false;             // also list raw differences inside masked areas
};

struct Geometry {
  uint64_t flashSize;
  uint64_t biosSize;
  uint32_t blockSize;
};

struct IdentityCheck {
  const char* caption;  // as the board prints it
  bool answerable;      // false: the dumps cannot tell
  bool agree;
  uint32_t status;  // the exit status stored when it fails
};

struct Verdict {
  bool pass;
  uint32_t status;  // the exit status the board would store
  std::optional<uint32_t> address;  // the FAIL address of a data mismatch
};

struct MaskedComparison {
  int dump;  // 0 Main, 1 Backup
  MaskedArea area;
  bool differs;  // the raw dumps differ inside it
};

struct Comparison {
  Geometry geometry;
  std::vector<IdentityCheck> checks;
  Verdict verdict;
  std::vector<MaskedComparison> masked;
  std::vector<DifferingRange> differences;  // region offsets, after masking, placed in Main's map
  std::vector<DifferingRange> belowBiosRegion;  // file offsets of two whole parts
  bool belowBiosRegionCompared = false;
  std::vector<DifferingRange> rawMasked;  // region offsets, with --no-mask
};

// The geometry the board reports with Main active: Main's descriptor, or a
// region of the file's own length without one.
Geometry BoardGeometry(const ChipDump& main, const CompareOptions& options);

// Both dumps must be loaded; prepares their regions with `geometry`.
Comparison Compare(ChipDump& main, ChipDump& backup, const CompareOptions& options);

// Window address and flash offset of a region offset.
uint32_t WindowAddress(const Geometry& geometry, uint64_t regionOffset);
uint64_t FlashOffset(const Geometry& geometry, uint64_t regionOffset);

}  // namespace pdiff
