// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/differences.h"

#include <algorithm>
#include <cstring>

namespace pdiff {

namespace {

// Equal chunks are passed over with one memcmp; only chunks that differ are
// looked at byte by byte.
constexpr uint64_t kChunk = 4096;

class RangeCollector {
 public:
  RangeCollector(const ImageMap* map, const ImageMap* otherMap, uint64_t offset, const RangeSink& sink)
      : map_(map), otherMap_(otherMap), offset_(offset), sink_(sink) {}

  void AddRun(uint64_t begin, uint64_t end) {
    while (begin < end) {
      const Place* place = map_ != nullptr ? &map_->PlaceOf(begin + offset_) : nullptr;
      const Place* other = otherMap_ != nullptr ? &otherMap_->PlaceOf(begin + offset_) : nullptr;
      uint64_t stop = place != nullptr ? std::min(end, place->end - offset_) : end;
      if (other != nullptr) stop = std::min(stop, other->end - offset_);
      AddPiece(begin, stop, place, other);
      begin = stop;
    }
  }

  void Finish() {
    if (pending_) sink_(last_);
    pending_ = false;
  }

 private:
  void AddPiece(uint64_t begin, uint64_t end, const Place* place, const Place* other) {
    if (pending_ && last_.place == place && lastOther_ == other && begin - last_.end <= kMergeGap) {
      last_.end = end;
      last_.differingBytes += end - begin;
      return;
    }
    Finish();
    last_ = DifferingRange{begin, end, end - begin, place};
    lastOther_ = other;
    pending_ = true;
  }

  const ImageMap* map_;
  const ImageMap* otherMap_;
  uint64_t offset_;
  const RangeSink& sink_;
  DifferingRange last_{};
  const Place* lastOther_ = nullptr;
  bool pending_ = false;
};

}  // namespace

void ScanDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count, const ImageMap* map, uint64_t offset,
                         const RangeSink& sink, const ImageMap* otherMap) {
  RangeCollector collector(map, otherMap, offset, sink);
  uint64_t runStart = 0;
  bool inRun = false;
  for (uint64_t chunk = 0; chunk < count; chunk += kChunk) {
    const uint64_t chunkEnd = std::min(count, chunk + kChunk);
    if (!inRun && std::memcmp(a + chunk, b + chunk, chunkEnd - chunk) == 0) continue;
    for (uint64_t i = chunk; i < chunkEnd; ++i) {
      const bool differs = a[i] != b[i];
      if (differs && !inRun) {
        runStart = i;
        inRun = true;
      } else if (!differs && inRun) {
        collector.AddRun(runStart, i);
        inRun = false;
      }
    }
  }
  if (inRun) collector.AddRun(runStart, count);
  collector.Finish();
}

std::vector<DifferingRange> FindDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count, const ImageMap* map,
                                                uint64_t offset) {
  std::vector<DifferingRange> ranges;
  ScanDifferingRanges(a, b, count, map, offset, [&](const DifferingRange& range) { ranges.push_back(range); });
  return ranges;
}

}  // namespace pdiff
