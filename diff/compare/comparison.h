// SPDX-License-Identifier: BSD-2-Clause-Patent
// The comparison test of the board replayed on two dumps: the geometry it
// would use, its identity checks, its block compare and verdict, and what
// the dumps' differences are, named by where they lie.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diff/compare/byte_areas.h"
#include "diff/compare/causes.h"
#include "diff/compare/chip_dump.h"
#include "diff/compare/differences.h"
#include "diff/compare/file_changes.h"
#include "diff/compare/variable_changes.h"

namespace pdiff {

struct CompareOptions {
  // The geometry the board's mailbox would report, which a dump does not
  // carry; each overrides what the dump's descriptor says.
  std::optional<uint32_t> blockSize;
  std::optional<uint64_t> biosSize;
  std::optional<uint64_t> flashSize;
  bool rawMasked = false;  // also list raw differences inside masked areas
  // Ranges of each list kept in the comparison (at least one); the rest are
  // counted, and scanned again by a report that writes them all.
  uint64_t rangesKept = UINT64_MAX;
};

struct Geometry {
  uint64_t flashSize;
  uint64_t biosSize;
  uint32_t blockSize;
  bool biosSizeGuessed = false;  // neither a descriptor nor the command line gave it
  int source = 0;                // the dump it was read from: 0 Main, 1 Backup
};

// A dump shorter than its own flash descriptor states: the flash offsets
// [missingBegin, missingEnd) of the part, in the geometry used, are not in
// the file.
struct CutShortDump {
  int dump;  // 0 Main, 1 Backup
  uint64_t fileSize;
  uint64_t statedSize;
  uint64_t missingBegin;
  uint64_t missingEnd;
};

struct IdentityCheck {
  const char* caption;  // as the board prints it
  bool answerable;      // false: the dumps cannot tell
  bool agree;
  uint32_t status;  // the exit status stored when it fails
  // False when neither dump holds the identity descriptor: the board would
  // compare two empty texts, which says nothing.
  bool applicable = true;
};

struct Verdict {
  bool pass;
  uint32_t status;                  // the exit status the board would store
  std::optional<uint32_t> address;  // the FAIL address of a data mismatch
  // A dump is cut short: the bytes it lacks cannot be compared, so the
  // board's result is not known and the verdict is never a pass.
  bool cutShort = false;
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
  // What the dumps are, said before anything else: one cut short, a part
  // read twice, a BIOS region against a whole part, no firmware at all.
  std::vector<std::string> shape;
  std::vector<CutShortDump> cutShort;
  uint64_t comparedRegion = 0;  // region bytes both dumps hold, from its start
  std::vector<MaskedComparison> masked;
  RangeList differences;      // region offsets, after masking, placed in Main's map
  RangeList belowBiosRegion;  // file offsets of two whole parts
  bool belowBiosRegionCompared = false;
  std::string belowBiosRegionNotCompared;  // why, when it is not
  RangeList rawMasked;                     // region offsets, with --no-mask
  std::vector<FileChange> files;           // the two firmware trees matched file by file
  VariableComparison variables;            // the EDK2 variable stores matched variable by variable
  std::vector<std::string> warnings;       // what the dumps leave uncertain, one line each
  WholeFileDifferences whole;              // every byte of both files, by area
  CauseAnalysis causes;                    // why the regions differ
};

// The geometry the board reports with Main active: Main's descriptor, or a
// region of the file's own length without one.
Geometry BoardGeometry(const ChipDump& main, const CompareOptions& options);
// The geometry two dumps are compared in: Main's, unless Main carries no
// descriptor while Backup does, or Main holds nothing like firmware while
// Backup does. A BIOS region read alone has no geometry of its own; the
// whole part's descriptor says where it lies. Either order gives the same.
Geometry PairGeometry(const ChipDump& main, const ChipDump& backup, const CompareOptions& options);

// A dump this geometry cannot be applied to (shorter than one block, or
// not the size its descriptor states) unless the command line gave the
// geometry: the reason, or empty.
std::string GeometryTrouble(const ChipDump& dump, const CompareOptions& options);

// Both dumps must be loaded; prepares their regions with `geometry`.
Comparison Compare(ChipDump& main, ChipDump& backup, const CompareOptions& options);

// Each list of a comparison in full, range by range, as Compare found them
// (for the lists it did not keep whole).
void ScanDifferences(const ChipDump& main, const ChipDump& backup, const RangeSink& sink);
void ScanBelowBiosRegion(const ChipDump& main, const ChipDump& backup, const RangeSink& sink);
void ScanRawMasked(const ChipDump& main, const ChipDump& backup, const RangeSink& sink);

// Window address and flash offset of a region offset.
uint32_t WindowAddress(const Geometry& geometry, uint64_t regionOffset);
uint64_t FlashOffset(const Geometry& geometry, uint64_t regionOffset);
// Flash offset of the dump's first byte. A dump that holds an Intel flash
// descriptor is placed by it, whatever its length: its BIOS region ends
// where the part's does (so a part of the geometry's size starts at 0, and
// bytes past the part are beyond it; one cut short lacks its top); any
// other dump ends where the part ends (a BIOS region), and one longer than
// the part starts below it.
int64_t FileStart(const Geometry& geometry, const ChipDump& dump);
// The file offset at which the part, and with it the BIOS region, ends in
// that dump's file.
uint64_t RegionEnd(const Geometry& geometry, const ChipDump& dump);
// Flash offset of an offset in the dump's file (0 for bytes below the part).
uint64_t FileFlashOffset(const Geometry& geometry, const ChipDump& dump, uint64_t fileOffset);
// Whether that file offset lies inside the flash part at all.
bool InsideFlashPart(const Geometry& geometry, const ChipDump& dump, uint64_t fileOffset);
// Why a file offset has no flash offset ("below the flash part ...",
// "beyond the flash part ..."), or null when it has one.
const char* OutsideFlashPartReason(const Geometry& geometry, const ChipDump& dump, uint64_t fileOffset);
// The dump's file offset of a flash offset, when the dump holds that byte.
std::optional<uint64_t> FlashFileOffset(const Geometry& geometry, const ChipDump& dump, uint64_t flashOffset);
// The innermost file of the dump's tree that holds this flash offset in the
// dump's own layout, or null.
const fwtree::TreeFile* InnermostFileAtFlash(const Geometry& geometry, const ChipDump& dump, uint64_t flashOffset);

}  // namespace pdiff
