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

// Differing pairs of bytes are found eight at a time: the XOR of two words
// is zero where they agree, and its lowest set byte is the first that
// differs (x86-64 is little-endian).
uint64_t Word(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The first i in [from, end) where a[i] != b[i], else end.
uint64_t NextDiffering(const uint8_t* a, const uint8_t* b, uint64_t from, uint64_t end) {
  uint64_t i = from;
  while (i < end) {
    // Whole equal chunks are passed over with one memcmp.
    if (i % kChunk == 0 && end - i >= kChunk && std::memcmp(a + i, b + i, kChunk) == 0) {
      i += kChunk;
      continue;
    }
    const uint64_t stop = std::min(end, (i / kChunk + 1) * kChunk);
    for (; i + 8 <= stop; i += 8) {
      const uint64_t x = Word(a + i) ^ Word(b + i);
      if (x != 0) return i + uint64_t(__builtin_ctzll(x)) / 8;
    }
    for (; i < stop; ++i)
      if (a[i] != b[i]) return i;
  }
  return end;
}

// The first i in [from, end) where a[i] == b[i], else end: the lowest zero
// byte of the XOR, found with the classic has-zero-byte test (whose lowest
// flag is always exact).
uint64_t NextEqual(const uint8_t* a, const uint8_t* b, uint64_t from, uint64_t end) {
  constexpr uint64_t kLow = 0x0101010101010101, kHigh = 0x8080808080808080;
  uint64_t i = from;
  for (; i + 8 <= end; i += 8) {
    const uint64_t x = Word(a + i) ^ Word(b + i);
    const uint64_t zero = (x - kLow) & ~x & kHigh;
    if (zero != 0) return i + uint64_t(__builtin_ctzll(zero)) / 8;
  }
  for (; i < end; ++i)
    if (a[i] == b[i]) return i;
  return end;
}

}  // namespace

void ScanDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count, const ImageMap* map, uint64_t offset,
                         const RangeSink& sink, const ImageMap* otherMap) {
  RangeCollector collector(map, otherMap, offset, sink);
  for (uint64_t i = NextDiffering(a, b, 0, count); i < count; i = NextDiffering(a, b, i, count)) {
    const uint64_t runEnd = NextEqual(a, b, i, count);
    collector.AddRun(i, runEnd);
    i = runEnd;
  }
  collector.Finish();
}

std::vector<DifferingRange> FindDifferingRanges(const uint8_t* a, const uint8_t* b, uint64_t count, const ImageMap* map,
                                                uint64_t offset) {
  std::vector<DifferingRange> ranges;
  ScanDifferingRanges(a, b, count, map, offset, [&](const DifferingRange& range) { ranges.push_back(range); });
  return ranges;
}

}  // namespace pdiff
