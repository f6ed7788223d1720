#include "diff/range_spans.h"

namespace pdiff {

uint64_t SpanSize(uint64_t flashSize, uint64_t mostSpans) {
  uint64_t size = 4096;
  while (size < (uint64_t(1) << 40) && (flashSize + size - 1) / size > mostSpans) size *= 2;
  return size;
}

std::vector<RangeSpan> GatherSpans(const std::vector<DifferingRange>& ranges, uint64_t toFlash, uint64_t spanSize) {
  std::vector<RangeSpan> spans;
  uint64_t currentSpan = UINT64_MAX;
  for (const DifferingRange& range : ranges) {
    const uint64_t begin = range.begin + toFlash;
    const uint64_t end = range.end + toFlash;
    if (spans.empty() || begin / spanSize != currentSpan) {
      currentSpan = begin / spanSize;
      spans.push_back({begin, end - begin, range.differingBytes, 1});
      continue;
    }
    RangeSpan& span = spans.back();
    if (end > span.flashOffset + span.length) span.length = end - span.flashOffset;
    span.differingBytes += range.differingBytes;
    ++span.ranges;
  }
  return spans;
}

}  // namespace pdiff
