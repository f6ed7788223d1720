// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/range_spans.h"

namespace pdiff {

uint64_t SpanSize(uint64_t flashSize, uint64_t mostSpans) {
  uint64_t size = 4096;
  while (size < (uint64_t(1) << 40) && (flashSize + size - 1) / size > mostSpans) size *= 2;
  return size;
}

void SpanGatherer::Add(const DifferingRange& range) {
  const uint64_t begin = range.begin + toFlash_;
  const uint64_t end = range.end + toFlash_;
  if (spans_.empty() || begin / spanSize_ != currentSpan_) {
    currentSpan_ = begin / spanSize_;
    spans_.push_back({begin, end - begin, range.differingBytes, 1});
    return;
  }
  RangeSpan& span = spans_.back();
  if (end > span.flashOffset + span.length) span.length = end - span.flashOffset;
  span.differingBytes += range.differingBytes;
  ++span.ranges;
}

std::vector<RangeSpan> GatherSpans(const std::vector<DifferingRange>& ranges, uint64_t toFlash, uint64_t spanSize) {
  SpanGatherer gatherer(toFlash, spanSize);
  for (const DifferingRange& range : ranges) gatherer.Add(range);
  return gatherer.spans();
}

}  // namespace pdiff
