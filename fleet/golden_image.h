// SPDX-License-Identifier: BSD-2-Clause-Patent
// The image boards are measured against: a saved chip or BIOS region, or a
// firmware update file carrying one (a UEFI capsule, or an FMP capsule with
// one payload), unwrapped to the image it carries. Anything else is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "diff/compare/chip_dump.h"
#include "diff/compare/comparison.h"

namespace fleet {

// Where a capsule's image lies in the file.
struct CapsulePayload {
  uint64_t offset;
  uint64_t length;
  const char* wrapping;  // "UEFI capsule", "FMP capsule"
};

// Null with `problem` empty when the bytes are no capsule; null with a
// reason when they are one whose image cannot be taken out.
std::optional<CapsulePayload> FindCapsulePayload(const uint8_t* bytes, uint64_t size, std::string* problem);

struct Golden {
  pdiff::ChipDump dump;
  std::string name;         // the file as given, escaped
  std::string wrapping;     // empty for a dump
  std::string sha256;       // of the image compared (unwrapped)
  uint64_t regionSize = 0;  // the BIOS region every chip is compared in
};

// Loads the golden image, walks its tree once and prepares its region.
// False with one line in `problem`.
bool LoadGolden(const std::string& path, const pdiff::CompareOptions& options, Golden* golden, std::string* problem);

}  // namespace fleet
