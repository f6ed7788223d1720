// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/page_bytes.h"

#include <algorithm>

namespace pdiff {

namespace {

// Where a dump's file lies on the flash: [from, to), and its first byte
// there (bytes below flash offset 0, of a dump longer than its part placed
// at the top, are not on the flash).
struct FlashSpan {
  const uint8_t* first;
  uint64_t from;
  uint64_t to;
};

FlashSpan OnFlash(const Geometry& geometry, const ChipDump& dump) {
  const int64_t start = FileStart(geometry, dump);
  const int64_t end = start + int64_t(dump.fileSize());
  const uint64_t below = start < 0 ? uint64_t(-start) : 0;
  return {dump.file() + std::min<uint64_t>(below, dump.fileSize()), uint64_t(std::max<int64_t>(start, 0)),
          uint64_t(std::max<int64_t>(end, 0))};
}

// The part of `window` that bytes[0, to - from) at offset `from` hold.
ByteWindow Held(ByteWindow window, uint64_t from, uint64_t to) {
  return {std::max(window.from, from), std::max(std::max(window.from, from), std::min(window.to, to))};
}

SideBytes Read(const uint8_t* first, uint64_t from, uint64_t to, ByteWindow window) {
  const ByteWindow held = Held(window, from, to);
  SideBytes side;
  if (held.from == held.to) return side;
  side.from = held.from;
  side.bytes.assign(first + (held.from - from), first + (held.to - from));
  return side;
}

// Each range of a list in order, from the comparison while it kept them,
// else scanned again; `take` returns false once nothing more can go in.
void EachRange(const RangeList& list, void (*scan)(const ChipDump&, const ChipDump&, const RangeSink&),
               const ChipDump& main, const ChipDump& backup, const std::function<bool(const DifferingRange&)>& take) {
  for (const DifferingRange& range : list.kept)
    if (!take(range)) return;
  if (list.complete()) return;
  uint64_t seen = 0;
  bool open = true;
  scan(main, backup, [&](const DifferingRange& range) {
    if (open && seen++ >= list.kept.size()) open = take(range);
  });
}

// The changed files whose bytes the page shows decompressed: both sides
// present, at least one inside compressed bytes.
bool ShownDecompressed(const FileChange& change) {
  const bool changed =
      change.kind == FileChangeKind::Changed || (change.kind == FileChangeKind::Moved && change.contentChanged);
  return changed && change.main != nullptr && change.backup != nullptr &&
         (change.main->compressed || change.backup->compressed);
}

// A file inside compressed bytes that one chip alone holds: the page shows
// the head of its decompressed bytes, its flash offsets being none.
const fwtree::TreeFile* OnOneChipCompressed(const FileChange& change) {
  const bool only = change.kind == FileChangeKind::OnlyInMain || change.kind == FileChangeKind::OnlyInBackup;
  if (!only || (change.main == nullptr) == (change.backup == nullptr)) return nullptr;
  const fwtree::TreeFile* file = change.main != nullptr ? change.main : change.backup;
  return file->compressed ? file : nullptr;
}

// The window around a file's differing bytes: from its first to its last
// (a longer side's tail differs all through), or nothing when they are equal.
std::optional<ByteWindow> FileWindow(const fwtree::TreeFile& a, const fwtree::TreeFile& b) {
  const uint64_t common = std::min(a.size, b.size);
  const uint64_t longest = std::max(a.size, b.size);
  uint64_t first = 0;
  while (first < common && a.bytes[first] == b.bytes[first]) ++first;
  if (first == longest) return std::nullopt;
  uint64_t last = longest;
  if (a.size == b.size)
    while (last > first && a.bytes[last - 1] == b.bytes[last - 1]) --last;
  return WindowAround(first, last, longest);
}

}  // namespace

ByteWindow WindowAround(uint64_t begin, uint64_t end, uint64_t limit) {
  const uint64_t before = begin >= kBytesPerLine ? begin - kBytesPerLine : 0;
  const uint64_t from = before / kBytesPerLine * kBytesPerLine;
  const uint64_t after = (end + 2 * kBytesPerLine - 1) / kBytesPerLine * kBytesPerLine;
  const uint64_t to = std::min({after, from + kMostBytesPerItem, limit});
  return {std::min(from, to), to};
}

bool ByteBudget::Take(uint64_t cost) {
  if (closed_ || cost > left_) {
    closed_ = true;
    return false;
  }
  left_ -= cost;
  return true;
}

PageBytes CollectPageBytes(ChipDump& main, ChipDump& backup, const Comparison& comparison, uint64_t most) {
  PageBytes page;
  page.most = most;
  ByteBudget budget(most);
  const Geometry& geometry = comparison.geometry;
  const FlashSpan sides[2] = {OnFlash(geometry, main), OnFlash(geometry, backup)};
  // Which ranges go in is settled while the dumps are masked, as the ranges
  // were found (a list not kept whole is scanned again); their bytes are read
  // as saved afterwards.
  std::vector<ByteWindow> windows;
  uint64_t listed = 0;
  const auto take = [&](uint64_t toFlash) {
    return [&, toFlash](const DifferingRange& range) {
      const uint64_t flash = range.begin + toFlash;
      const ByteWindow window = WindowAround(flash, range.end + toFlash, UINT64_MAX);
      uint64_t cost = 0;
      for (const FlashSpan& side : sides) {
        const ByteWindow held = Held(window, side.from, side.to);
        cost += held.to - held.from;
      }
      if (!budget.Take(cost)) return false;
      page.embedded += cost;
      page.ranges.push_back({flash, range.end - range.begin, {}, {}});
      windows.push_back(window);
      return true;
    };
  };
  listed += comparison.differences.count;
  EachRange(comparison.differences, ScanDifferences, main, backup, take(FlashOffset(geometry, 0)));
  if (comparison.belowBiosRegionCompared) {
    listed += comparison.belowBiosRegion.count;
    if (!budget.closed()) EachRange(comparison.belowBiosRegion, ScanBelowBiosRegion, main, backup, take(0));
  }
  page.rangesLeftOut = listed - page.ranges.size();

  main.ShowUnmasked(true);
  backup.ShowUnmasked(true);
  for (size_t i = 0; i < page.ranges.size(); ++i) {
    page.ranges[i].main = Read(sides[0].first, sides[0].from, sides[0].to, windows[i]);
    page.ranges[i].backup = Read(sides[1].first, sides[1].from, sides[1].to, windows[i]);
  }
  for (size_t i = 0; i < comparison.files.size(); ++i) {
    const FileChange& change = comparison.files[i];
    FileBytes file{i, {}, {}};
    if (const fwtree::TreeFile* alone = OnOneChipCompressed(change)) {
      const ByteWindow head = WindowAround(0, alone->size, alone->size);
      (change.main != nullptr ? file.main : file.backup) = Read(alone->bytes, 0, alone->size, head);
    } else if (ShownDecompressed(change)) {
      const std::optional<ByteWindow> window = FileWindow(*change.main, *change.backup);
      if (!window) continue;
      file.main = Read(change.main->bytes, 0, change.main->size, *window);
      file.backup = Read(change.backup->bytes, 0, change.backup->size, *window);
    } else {
      continue;
    }
    const uint64_t cost = file.main.bytes.size() + file.backup.bytes.size();
    if (!budget.Take(cost)) {
      ++page.filesLeftOut;
      continue;
    }
    page.embedded += cost;
    page.files.push_back(std::move(file));
  }
  main.ShowUnmasked(false);
  backup.ShowUnmasked(false);
  return page;
}

}  // namespace pdiff
