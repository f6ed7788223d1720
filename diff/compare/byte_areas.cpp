// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/byte_areas.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "diff/compare/text_format.h"

namespace pdiff {

namespace {

using fwtree::FlashDescriptor;
using fwtree::FlashRegion;

constexpr uint64_t kChunk = 4096;

// A run of part offsets [begin, end) and the name of the area holding it.
struct Segment {
  uint64_t begin;
  uint64_t end;
  std::string name;
};

std::string RegionSpan(const std::optional<FlashRegion>& region) {
  if (!region) return "unused";
  return Hex(region->base) + "-" + Hex(region->base + region->length - 1);
}

std::vector<std::string> Disagreements(const FlashDescriptor& main, const FlashDescriptor& backup) {
  std::vector<std::string> lines;
  if (main.components != backup.components || main.componentDensity != backup.componentDensity)
    lines.push_back("the flash components: " + std::to_string(main.components) + " chip(s), density code " +
                    Hex(main.componentDensity) + " in Main; " + std::to_string(backup.components) +
                    " chip(s), density code " + Hex(backup.componentDensity) + " in Backup");
  std::map<int, const char*> indexes;
  for (const FlashDescriptor* descriptor : {&main, &backup})
    for (const FlashRegion& region : descriptor->regions) indexes.emplace(region.index, region.name);
  for (const auto& [index, name] : indexes) {
    const auto a = main.Region(index);
    const auto b = backup.Region(index);
    if (a && b && a->base == b->base && a->length == b->length) continue;
    lines.push_back("the " + std::string(name) + " region: " + RegionSpan(a) + " in Main, " + RegionSpan(b) +
                    " in Backup");
  }
  return lines;
}

// The regions both descriptors agree on (or the one descriptor's), in flash
// offsets: each dump's descriptor moved with the dump's first byte.
std::vector<Segment> RegionSegments(const ChipDump& main, const ChipDump& backup, std::pair<int64_t, int64_t> starts,
                                    bool* disagree) {
  const auto& a = main.flashDescriptor();
  const auto& b = backup.flashDescriptor();
  *disagree = false;
  const FlashDescriptor* only = a && !b ? &*a : b && !a ? &*b : nullptr;
  const int64_t ownerStart = a ? starts.first : starts.second;
  std::vector<Segment> segments;
  auto add = [&](int64_t begin, int64_t end, const char* name) {
    begin = std::max<int64_t>(begin, 0);
    if (begin < end) segments.push_back({uint64_t(begin), uint64_t(end), std::string(name) + " region"});
  };
  if (only != nullptr) {
    for (const FlashRegion& region : only->regions)
      add(int64_t(region.base) + ownerStart, int64_t(region.base + region.length) + ownerStart, region.name);
  } else if (a && b) {
    // A region the two place differently is still named where both put it;
    // only the rest is where they disagree.
    for (const FlashRegion& region : a->regions) {
      const auto other = b->Region(region.index);
      const int64_t beginA = int64_t(region.base) + starts.first;
      if (!other || beginA != int64_t(other->base) + starts.second || region.length != other->length) *disagree = true;
      if (!other) continue;
      const int64_t beginB = int64_t(other->base) + starts.second;
      add(std::max(beginA, beginB), std::min(beginA + int64_t(region.length), beginB + int64_t(other->length)),
          region.name);
    }
    for (const FlashRegion& region : b->regions)
      if (!a->Region(region.index)) *disagree = true;
  }
  std::sort(segments.begin(), segments.end(), [](const Segment& x, const Segment& y) { return x.begin < y.begin; });
  return segments;
}

// Lays `over` on top of `under`: each byte keeps the name of the first
// layer that holds it, `fallback` where none does.
std::vector<Segment> Overlay(const std::vector<Segment>& over, const std::vector<Segment>& under, uint64_t size,
                             const std::string& fallback) {
  std::vector<uint64_t> cuts = {0, size};
  for (const auto* layer : {&over, &under})
    for (const Segment& segment : *layer)
      for (uint64_t cut : {segment.begin, segment.end})
        if (cut < size) cuts.push_back(cut);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  auto nameAt = [&](uint64_t at) -> const std::string& {
    for (const auto* layer : {&over, &under}) {
      auto after = std::upper_bound(layer->begin(), layer->end(), at,
                                    [](uint64_t value, const Segment& s) { return value < s.begin; });
      if (after != layer->begin() && at < (after - 1)->end) return (after - 1)->name;
    }
    return fallback;
  };
  std::vector<Segment> result;
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    const std::string& name = nameAt(cuts[i]);
    if (!result.empty() && result.back().name == name)
      result.back().end = cuts[i + 1];
    else
      result.push_back({cuts[i], cuts[i + 1], name});
  }
  return result;
}

uint64_t DifferingBytes(const uint8_t* a, const uint8_t* b, uint64_t count) {
  uint64_t differing = 0;
  for (uint64_t at = 0; at < count; at += kChunk) {
    const uint64_t length = std::min(kChunk, count - at);
    if (std::memcmp(a + at, b + at, length) == 0) continue;
    uint64_t i = at;
    // Eight pairs at a time: each byte of the XOR that is not zero sets its
    // top bit in `flags` (adding 0x7F carries into the top bit of any
    // non-zero low seven bits, without carrying into the next byte).
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
    for (; i + 8 <= at + length; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      const uint64_t diff = x ^ y;
      const uint64_t flags = (((diff & kLow7) + kLow7) | diff) & ~kLow7;
      differing += ((flags >> 7) * 0x0101010101010101) >> 56;  // the flags summed
    }
    for (; i < at + length; ++i) differing += a[i] != b[i];
  }
  return differing;
}

}  // namespace

bool SameFiles(const ChipDump& main, const ChipDump& backup) {
  return main.fileSize() == backup.fileSize() && std::memcmp(main.file(), backup.file(), main.fileSize()) == 0;
}

WholeFileDifferences CompareWholeFiles(const ChipDump& main, const ChipDump& backup, const BoardAreas& board) {
  WholeFileDifferences result;
  // Flash offsets of both files' bytes; what both hold is compared.
  const int64_t beginA = board.starts.first;
  const int64_t beginB = board.starts.second;
  const int64_t endA = beginA + int64_t(main.fileSize());
  const int64_t endB = beginB + int64_t(backup.fileSize());
  const int64_t sharedBegin = std::max(beginA, beginB);
  const int64_t sharedEnd = std::max(sharedBegin, std::min(endA, endB));
  if (main.fileSize() != backup.fileSize() || beginA != beginB) {
    // The bytes the longer dump holds where the other holds none; of two
    // of one length placed apart, the one placed lower (whichever is Main).
    const bool mainLonger =
        main.fileSize() > backup.fileSize() || (main.fileSize() == backup.fileSize() && beginA < beginB);
    const ChipDump& longer = mainLonger ? main : backup;
    const int64_t begin = mainLonger ? beginA : beginB;
    result.length.longer = mainLonger ? 0 : 1;
    for (uint64_t i = 0; i < longer.fileSize(); ++i) {
      const int64_t flash = begin + int64_t(i);
      if (flash >= sharedBegin && flash < sharedEnd) {
        i += uint64_t(sharedEnd - flash) - 1;
        continue;
      }
      ++result.length.bytes;
      result.length.notErased += longer.file()[i] != 0xFF;
      result.length.beyondPart += flash >= int64_t(board.flashSize);
    }
  }
  if (main.flashDescriptor() && backup.flashDescriptor())
    result.descriptorDisagreements = Disagreements(*main.flashDescriptor(), *backup.flashDescriptor());

  // Everything below is in flash offsets from sharedBegin (clamped to the
  // shared bytes), so that Overlay's parts start at 0.
  const uint64_t size = uint64_t(sharedEnd - sharedBegin);
  auto local = [&](int64_t flash) -> uint64_t {
    return uint64_t(std::clamp<int64_t>(flash - sharedBegin, 0, int64_t(size)));
  };
  std::vector<Segment> boardLayer;
  if (sharedBegin < 0) boardLayer.push_back({0, local(0), "below the flash part"});
  for (const auto& [begin, end] : board.masked)
    boardLayer.push_back({local(int64_t(begin)), local(int64_t(end)), "masked areas"});
  if (sharedEnd > int64_t(board.flashSize))
    boardLayer.push_back({local(int64_t(board.flashSize)), size, "beyond the flash part"});
  std::vector<Segment> windowLayer = {
      {local(int64_t(board.window.first)), local(int64_t(board.window.second)), "BIOS window the board compares"}};
  bool disagree = false;
  std::vector<Segment> regions;
  for (Segment region : RegionSegments(main, backup, board.starts, &disagree)) {
    region.begin = local(int64_t(region.begin));
    region.end = local(int64_t(region.end));
    if (region.name == "BIOS region") region.name = "BIOS region below the window the board compares";
    if (region.begin < region.end) regions.push_back(region);
  }
  std::vector<Segment> named;
  for (const Segment& s : Overlay(boardLayer, windowLayer, size, ""))
    if (!s.name.empty()) named.push_back(s);
  const std::vector<Segment> segments = Overlay(named, regions, size,
                                                disagree          ? "regions the descriptors disagree on"
                                                : regions.empty() ? "outside the BIOS window"
                                                                  : "outside the descriptor's regions");

  std::map<std::string, size_t> areaOf;
  const uint8_t* a = main.file() + (sharedBegin - beginA);
  const uint8_t* b = backup.file() + (sharedBegin - beginB);
  for (const Segment& segment : segments) {
    if (segment.begin >= segment.end) continue;
    const uint64_t differing = DifferingBytes(a + segment.begin, b + segment.begin, segment.end - segment.begin);
    if (differing == 0) continue;
    auto [found, added] = areaOf.try_emplace(segment.name, result.areas.size());
    if (added) result.areas.push_back({segment.name, 0});
    result.areas[found->second].differingBytes += differing;
    result.differingBytes += differing;
  }
  result.identical = result.differingBytes == 0 && result.length.longer < 0;
  return result;
}

}  // namespace pdiff
