// SPDX-License-Identifier: BSD-2-Clause-Patent
// Both chips' bytes around what differs, for the report page's bytes view:
// each differing range's bytes at its flash offset and, for a changed file
// inside compressed bytes, its decompressed bytes (the head of them for one
// that a chip alone holds). They are taken in the
// report's order while they fit one bound, so that the page stays small
// whatever the dumps hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "diff/compare/chip_dump.h"
#include "diff/compare/comparison.h"

namespace pdiff {

// Bytes of both chips a page embeds unless the command line says otherwise.
constexpr uint64_t kPageBytesDefault = 256 * 1024;
// A view's line; a range is shown with at least one line before and after.
constexpr uint64_t kBytesPerLine = 16;
// The most bytes one range or file shows of each chip: 256 lines.
constexpr uint64_t kMostBytesPerItem = 4096;

struct ByteWindow {
  uint64_t from;
  uint64_t to;
};

// The whole lines shown for [begin, end): from the line a line before it to
// the line a line after it, at most kMostBytesPerItem bytes from the first,
// never past `limit`.
ByteWindow WindowAround(uint64_t begin, uint64_t end, uint64_t limit);

// Items go in, in order, while they fit `most` bytes; the first that does
// not fit ends it, so what is in is always the items nearest the top of the
// list and a reader knows where the bytes stop.
class ByteBudget {
 public:
  explicit ByteBudget(uint64_t most) : left_(most) {}
  bool Take(uint64_t cost);
  bool closed() const { return closed_; }

 private:
  uint64_t left_;
  bool closed_ = false;
};

// One chip's bytes of a window: the part of it that chip's file holds.
struct SideBytes {
  std::optional<uint64_t> from;  // offset of the first byte; null when it holds none
  std::vector<uint8_t> bytes;
};

struct RangeBytes {
  uint64_t flashOffset;  // the range's own place, as the report lists it
  uint64_t length;
  SideBytes main;
  SideBytes backup;
};

struct FileBytes {
  size_t change;   // index in the comparison's files
  SideBytes main;  // offsets in the decompressed file, its header first
  SideBytes backup;
};

struct PageBytes {
  uint64_t most = 0;
  uint64_t embedded = 0;  // both chips' bytes, counted before any encoding
  std::vector<RangeBytes> ranges;
  uint64_t rangesLeftOut = 0;
  std::vector<FileBytes> files;
  uint64_t filesLeftOut = 0;
};

// The differing ranges (the BIOS window's, then those below the BIOS region)
// and then the changed files inside compressed bytes (and those inside
// compressed bytes that one chip alone holds), each with the bytes
// around its differences as saved (the masks are lifted while they are
// read), until `most` bytes of both chips in all.
PageBytes CollectPageBytes(ChipDump& main, ChipDump& backup, const Comparison& comparison, uint64_t most);

}  // namespace pdiff
