// SPDX-License-Identifier: BSD-2-Clause-Patent
// Finding the bytes where two buffers differ and gathering them into ranges
// that each lie in one place of an image map.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "diff/compare/image_map.h"

namespace pdiff {

struct DifferingRange {
  uint64_t begin;  // offsets in the compared buffers
  uint64_t end;
  uint64_t differingBytes;  // bytes in [begin, end) that differ
  const Place* place;       // null when the buffers are not mapped
};

// Runs of differing bytes closer than this are reported as one range.
constexpr uint64_t kMergeGap = 16;

using RangeSink = std::function<void(const DifferingRange&)>;

// The differing ranges of a[0, count) and b[0, count), each handed to
// `sink` once complete, in order. With a map, ranges are split where places
// change and each names its place; `offset` is added to every position
// before it is looked up in the map. With b's map as well, ranges are also
// split where b's places change, so that the ranges are the same whichever
// buffer is a.
void ScanDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count, const ImageMap* map, uint64_t offset,
                         const RangeSink& sink, const ImageMap* otherMap = nullptr);
std::vector<DifferingRange> FindDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count,
                                                const ImageMap* map = nullptr, uint64_t offset = 0);

// A list of ranges counted in full but kept only up to a number: a report
// that writes every range scans again instead, so memory does not grow
// with the number of ranges.
struct RangeList {
  std::vector<DifferingRange> kept;  // the first ones
  uint64_t count = 0;
  uint64_t differingBytes = 0;

  void Add(const DifferingRange& range, uint64_t keep) {
    if (kept.size() < keep) kept.push_back(range);
    ++count;
    differingBytes += range.differingBytes;
  }
  bool empty() const { return count == 0; }
  bool complete() const { return kept.size() == count; }
};

}  // namespace pdiff
