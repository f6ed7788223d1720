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

// The regions both descriptors agree on (or the one descriptor's), in part
// offsets of a part of `partSize` bytes; a dump shorter than the part has
// its descriptor's offsets moved up with it.
std::vector<Segment> RegionSegments(const ChipDump& main, const ChipDump& backup, uint64_t partSize, bool* disagree) {
  const auto& a = main.flashDescriptor();
  const auto& b = backup.flashDescriptor();
  *disagree = false;
  const FlashDescriptor* only = a && !b ? &*a : b && !a ? &*b : nullptr;
  const ChipDump* owner = a ? &main : &backup;
  std::vector<Segment> segments;
  if (only != nullptr) {
    const uint64_t shift = partSize - owner->fileSize();
    for (const FlashRegion& region : only->regions)
      segments.push_back(
          {region.base + shift, region.base + shift + region.length, std::string(region.name) + " region"});
  } else if (a && b) {
    const uint64_t shiftA = partSize - main.fileSize();
    const uint64_t shiftB = partSize - backup.fileSize();
    // A region the two place differently is still named where both put it;
    // only the rest is where they disagree.
    for (const FlashRegion& region : a->regions) {
      const auto other = b->Region(region.index);
      if (!other || region.base + shiftA != other->base + shiftB || region.length != other->length) *disagree = true;
      if (!other) continue;
      const uint64_t begin = std::max(region.base + shiftA, other->base + shiftB);
      const uint64_t end = std::min(region.base + shiftA + region.length, other->base + shiftB + other->length);
      if (begin < end) segments.push_back({begin, end, std::string(region.name) + " region"});
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
    for (uint64_t i = at; i < at + length; ++i) differing += a[i] != b[i];
  }
  return differing;
}

}  // namespace

bool SameFiles(const ChipDump& main, const ChipDump& backup) {
  return main.fileSize() == backup.fileSize() && std::memcmp(main.file(), backup.file(), main.fileSize()) == 0;
}

WholeFileDifferences CompareWholeFiles(const ChipDump& main, const ChipDump& backup, const BoardAreas& board) {
  WholeFileDifferences result;
  const uint64_t partSize = std::max(main.fileSize(), backup.fileSize());
  const uint64_t shared = std::min(main.fileSize(), backup.fileSize());
  if (main.fileSize() != backup.fileSize()) {
    const ChipDump& longer = main.fileSize() > backup.fileSize() ? main : backup;
    result.length.longer = &longer == &main ? 0 : 1;
    result.length.bytes = partSize - shared;
    for (uint64_t i = 0; i < result.length.bytes; ++i) result.length.notErased += longer.file()[i] != 0xFF;
  }
  if (main.flashDescriptor() && backup.flashDescriptor())
    result.descriptorDisagreements = Disagreements(*main.flashDescriptor(), *backup.flashDescriptor());

  // Flash offsets of the board's part to offsets of this part, both ending
  // at the top.
  auto toPart = [&](uint64_t flash) -> uint64_t {
    const int64_t at = int64_t(flash) + int64_t(partSize) - int64_t(board.flashSize);
    return uint64_t(std::clamp<int64_t>(at, 0, int64_t(partSize)));
  };
  std::vector<Segment> boardLayer;
  for (const auto& [begin, end] : board.masked) boardLayer.push_back({toPart(begin), toPart(end), "masked areas"});
  std::vector<Segment> windowLayer = {
      {toPart(board.window.first), toPart(board.window.second), "BIOS window the board compares"}};
  bool disagree = false;
  std::vector<Segment> regions = RegionSegments(main, backup, partSize, &disagree);
  for (Segment& region : regions)
    if (region.name == "BIOS region") region.name = "BIOS region below the window the board compares";
  const std::vector<Segment> boardAreas = Overlay(boardLayer, windowLayer, partSize, "");
  std::vector<Segment> named;
  for (const Segment& s : boardAreas)
    if (!s.name.empty()) named.push_back(s);
  const std::vector<Segment> segments = Overlay(named, regions, partSize,
                                                disagree          ? "regions the descriptors disagree on"
                                                : regions.empty() ? "outside the BIOS window"
                                                                  : "outside the descriptor's regions");

  std::map<std::string, size_t> areaOf;
  const uint8_t* a = main.file() + main.fileSize() - shared;
  const uint8_t* b = backup.file() + backup.fileSize() - shared;
  for (const Segment& segment : segments) {
    const uint64_t begin = std::max(segment.begin, partSize - shared);
    if (begin >= segment.end) continue;
    const uint64_t at = begin - (partSize - shared);
    const uint64_t differing = DifferingBytes(a + at, b + at, segment.end - begin);
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
