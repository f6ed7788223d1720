// SPDX-License-Identifier: BSD-2-Clause-Patent
// A chip's differences from golden as a signature: the firmware files that
// changed (by GUID path and change class), the variables (by name), the
// areas outside them and a length that differs. Sizes, offsets and byte
// counts stay out, so that boards with the same fault share one signature.
#pragma once

#include <string>
#include <vector>

#include "diff/compare/comparison.h"
#include "fleet/board_record.h"

namespace fleet {

// Items naming a cause of the chip's differences (erased blocks, bit
// errors, a different build, settings) have keys that start so; the files
// erased blocks and bit errors fall in are named, the first few.
constexpr const char* kCauseKeyPrefix = "cause ";
constexpr size_t kCauseFilesInSignature = 3;
// Names this form of the signature in a cache's identity, so that chips
// measured by an earlier form (without causes) are measured again.
constexpr const char* kSignatureForm = " signature with causes";

// Golden is the comparison's Main, the chip its Backup. Sorted by key,
// without repeats; empty when the chip differs only where the board masks.
// `goldenRegionOnly`: golden is a BIOS region alone (as a capsule carries
// it), so a whole part's bytes below it are no difference.
std::vector<SignatureItem> ChipSignature(const pdiff::Comparison& comparison, bool goldenRegionOnly);

// The signature of a chip the comparison cannot place (GeometryTrouble's
// reason), without the sizes that differ from chip to chip.
SignatureItem UnplacedChip(const std::string& reason);

// An item as what it is about and what happened to it: "file A/B#0" and
// "changed"; its label "DXE driver \"SetupDxe\"". The same file or
// variable has one subject whatever happened to it. Items that are no
// file's or variable's change (areas, lengths) are their own subject and
// say "differs".
struct ItemParts {
  std::string subject;
  std::string label;
  std::string change;
};
ItemParts SplitItem(const SignatureItem& item);

}  // namespace fleet
