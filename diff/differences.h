// Finding the bytes where two buffers differ and gathering them into ranges
// that each lie in one place of an image map.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/image_map.h"

namespace pdiff {

struct DifferingRange {
  uint64_t begin;  // offsets in the compared buffers
  uint64_t end;
  uint64_t differingBytes;  // bytes in [begin, end) that differ
  const Place* place;       // null when the buffers are not mapped
};

// Runs of differing bytes closer than this are reported as one range.
constexpr uint64_t kMergeGap = 16;

// The differing ranges of a[0, count) and b[0, count). With a map, ranges are
// split where places change and each names its place; `offset` is added to
// every position before it is looked up in the map.
std::vector<DifferingRange> FindDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count,
                                                const ImageMap* map = nullptr, uint64_t offset = 0);

}  // namespace pdiff
