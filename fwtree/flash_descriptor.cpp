// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/flash_descriptor.h"

#include "image/layout.h"

namespace fwtree {

namespace {

using image_layout::Load32;

constexpr uint64_t kSignatureOffset = 16;
constexpr uint32_t kSignature = 0x0FF0A55A;
constexpr uint64_t kFlashMap0 = 20;
constexpr uint64_t kFlashMap1 = 24;
constexpr int kMostRegions = 16;
constexpr uint32_t kRegionFieldMask = 0x7FFF;
constexpr unsigned kRegionShift = 12;

}  // namespace

const char* FlashRegionName(int index) {
  static const char* const kNames[kMostRegions] = {
      "Flash Descriptor", "BIOS", "Intel ME",    "GbE", "Platform Data", "Device Exp1", "Secondary BIOS",
      "Reserved",         "EC",   "Device Exp2", "IE",  "10GbE_0",       "10GbE_1",     "Reserved",
      "Reserved",         "PTT"};
  return index >= 0 && index < kMostRegions ? kNames[index] : "?";
}

std::optional<FlashRegion> FlashDescriptor::Region(int index) const {
  for (const FlashRegion& region : regions)
    if (region.index == index) return region;
  return std::nullopt;
}

std::optional<FlashDescriptor> ReadFlashDescriptor(const uint8_t* part, uint64_t size) {
  if (size < kFlashMap1 + 4 || Load32(part + kSignatureOffset) != kSignature) return std::nullopt;
  const uint32_t map0 = Load32(part + kFlashMap0);
  const uint32_t map1 = Load32(part + kFlashMap1);
  const uint64_t regionTable = uint64_t((map0 >> 16) & 0xFF) << 4;
  // The region table ends where the next table the maps locate begins.
  const uint64_t componentTable = uint64_t(map0 & 0xFF) << 4;
  const uint64_t masterTable = uint64_t(map1 & 0xFF) << 4;
  uint64_t tableEnd = regionTable + 4 * kMostRegions;
  for (uint64_t next : {componentTable, masterTable})
    if (next > regionTable && next < tableEnd) tableEnd = next;
  if (regionTable < kFlashMap1 + 4 || tableEnd > size) return std::nullopt;

  FlashDescriptor descriptor;
  descriptor.components = ((map0 >> 8) & 3) + 1;
  if (componentTable >= kFlashMap1 + 4 && componentTable + 4 <= size)
    descriptor.componentDensity = Load32(part + componentTable);
  for (int index = 0; regionTable + 4 * uint64_t(index) + 4 <= tableEnd; ++index) {
    const uint32_t value = Load32(part + regionTable + 4 * uint64_t(index));
    const uint64_t base = uint64_t(value & kRegionFieldMask) << kRegionShift;
    const uint64_t limit = (uint64_t((value >> 16) & kRegionFieldMask) << kRegionShift) | 0xFFF;
    if (value == 0xFFFFFFFF || base > limit) continue;  // unused
    descriptor.regions.push_back(FlashRegion{index, FlashRegionName(index), base, limit - base + 1});
  }
  if (!descriptor.Region(kBiosRegion)) return std::nullopt;
  return descriptor;
}

}  // namespace fwtree
