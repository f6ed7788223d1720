// SPDX-License-Identifier: BSD-2-Clause-Patent
// Why two dumps differ: each differing byte of the region the board
// compares is given the cause its bytes show (an erase not followed by its
// write, bits flipped in a failing part, another build of the firmware, the
// settings alone, the dumps' own shapes), or said to have none that a rule
// can name. No cause is forced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diff/compare/pe_image.h"

namespace pdiff {

class ChipDump;
struct Comparison;

enum class CauseKind { Erased, BitErrors, DifferentBuild, Settings, Layout, Other };
enum class CauseChip { Main, Backup, Both };

const char* CauseKindName(CauseKind kind);  // "erased", "bit_errors", ...
const char* CauseChipName(CauseChip chip);  // "main", "backup", "both"
// The chip's name in the report's lines: "Main", "Backup", "Main and Backup".
const char* CauseChipText(CauseChip chip);

struct Cause {
  CauseKind kind;
  CauseChip chip;
  std::vector<uint64_t> offsets = {};  // flash offsets of the first blocks, bytes or files it covers
  uint64_t blocks = 0;                 // erased blocks of 4 KiB
  uint64_t largeBlocks = 0;            // of them, whole aligned blocks of 64 KiB
  uint64_t bytes = 0;                  // differing bytes it explains
  uint64_t bitsOneOnMain = 0;          // differing bits reading 1 on Main where Backup reads 0
  uint64_t bitsOneOnBackup = 0;
  uint64_t files = 0;                       // rebuilt files; changed variables, for settings
  std::vector<std::string> fileNames = {};  // the files it falls in (the first kCauseFilesNamed)
  std::string text = {};                    // the report's line
};

constexpr size_t kCauseFilesNamed = 20;
constexpr size_t kCauseOffsetsListed = 8;

// A changed file's images, by its index in the comparison's file list.
struct FileImageChange {
  size_t file;
  ImageChange image;
};

struct CauseAnalysis {
  std::vector<Cause> causes;  // in the order of CauseKind
  std::vector<FileImageChange> images;
};

// Both dumps prepared and their trees compared (`comparison`'s files and
// variables filled); reads the regions as the board compares them.
CauseAnalysis FindCauses(const ChipDump& main, const ChipDump& backup, const Comparison& comparison);

// Puts a cause found elsewhere in its place among the others, in the order
// of CauseKind.
void InsertCause(CauseAnalysis* analysis, Cause cause);

// The dumps' shapes as causes of their own (kind layout): each dump cut
// short with the span it lacks, and a part read twice or a region against a
// whole part, as the comparison's shape lines say.
void AddLayoutCauses(const Comparison& comparison, CauseAnalysis* analysis);

// The image bytes compared for strings, over all changed files of one
// comparison.
constexpr uint64_t kStringScanBudget = 64ull << 20;

}  // namespace pdiff
