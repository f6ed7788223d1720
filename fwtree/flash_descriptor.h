// SPDX-License-Identifier: BSD-2-Clause-Patent
// The Intel flash descriptor at the bottom of a whole SPI part: signature
// 0x0FF0A55A at offset 16, then the map that locates the region table. Each
// region (descriptor, BIOS, ME, GbE, platform data, ...) is a 4 KiB-granular
// [base, limit] range of the part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwtree {

struct FlashRegion {
  int index;         // FLREG number
  const char* name;  // as the chipset documentation names it
  uint64_t base;     // offset in the part
  uint64_t length;
};

struct FlashDescriptor {
  std::vector<FlashRegion> regions;  // used regions only, in FLREG order
  uint32_t components = 0;           // flash chips the part spans (FLMAP0 NC + 1)
  uint32_t componentDensity = 0;     // FLCOMP as stored: each chip's size code

  // The region of that index, when it is used.
  std::optional<FlashRegion> Region(int index) const;
};

constexpr int kDescriptorRegion = 0;
constexpr int kBiosRegion = 1;

// Null when the part carries no descriptor signature or its region table
// lies outside the part. Regions reaching past the part's end are kept: the
// caller decides what a short dump means.
std::optional<FlashDescriptor> ReadFlashDescriptor(const uint8_t* part, uint64_t size);

// The region's name ("BIOS", "Intel ME", ...) by FLREG number.
const char* FlashRegionName(int index);

}  // namespace fwtree
