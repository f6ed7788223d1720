// SPDX-License-Identifier: BSD-2-Clause-Patent
// Differing ranges gathered into fixed spans of the flash, for a report
// that draws them: however many ranges there are, at most `mostSpans`
// spans come out.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/compare/differences.h"

namespace pdiff {

struct RangeSpan {
  uint64_t flashOffset;  // of the first differing range in the span
  uint64_t length;       // up to the end of the last one
  uint64_t differingBytes;
  uint64_t ranges;
};

// The span size for a flash part: a power of two, at least 4 KiB, with at
// most `mostSpans` spans over `flashSize` bytes.
uint64_t SpanSize(uint64_t flashSize, uint64_t mostSpans);

// `ranges` sorted by offset; `toFlash` is added to their offsets. A range
// crossing a span boundary belongs to the span it starts in.
std::vector<RangeSpan> GatherSpans(const std::vector<DifferingRange>& ranges, uint64_t toFlash, uint64_t spanSize);

// The same, range by range as a scan hands them over.
class SpanGatherer {
 public:
  SpanGatherer(uint64_t toFlash, uint64_t spanSize) : toFlash_(toFlash), spanSize_(spanSize) {}
  void Add(const DifferingRange& range);
  const std::vector<RangeSpan>& spans() const { return spans_; }

 private:
  uint64_t toFlash_;
  uint64_t spanSize_;
  uint64_t currentSpan_ = UINT64_MAX;
  std::vector<RangeSpan> spans_;
};

}  // namespace pdiff
