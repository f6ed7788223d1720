// SPDX-License-Identifier: BSD-2-Clause-Patent
// The bytes a report page embeds for its bytes view: the window shown
// around a difference, and the bound, which takes the ranges nearest the top
// of the list first, never goes over, and stops at the first that does not
// fit. What the view shows is checked in a browser (tests/browser/).
#include <gtest/gtest.h>

#include "diff/report/page_bytes.h"
#include "tests/support/diff_support.h"
#include "tests/support/sim_support.h"

namespace {

using namespace support;

// Catches a window that starts or ends inside a line, shows no context, or
// runs past the item's end or its most bytes.
TEST(DiffPageBytes, AWindowIsWholeLinesAroundTheRangeWithinItsBounds) {
  struct Case {
    uint64_t begin, end, limit, from, to;
  };
  const Case cases[] = {
      {0x20088, 0x20092, UINT64_MAX, 0x20070, 0x200b0},                      // a line of context each side
      {0x20080, 0x20090, UINT64_MAX, 0x20070, 0x200a0},                      // aligned range
      {5, 6, UINT64_MAX, 0, 0x20},                                           // no line before offset 0
      {0x100, 0x100000, UINT64_MAX, 0xf0, 0xf0 + pdiff::kMostBytesPerItem},  // a long range: its head
      {0x30, 0x40, 0x45, 0x20, 0x45},                                        // a file's end
  };
  for (const Case& c : cases) {
    const pdiff::ByteWindow window = pdiff::WindowAround(c.begin, c.end, c.limit);
    EXPECT_EQ(window.from, c.from) << std::hex << c.begin;
    EXPECT_EQ(window.to, c.to) << std::hex << c.begin;
  }
}

// Catches a bound that is overrun, or that lets a later, smaller item in
// after one was refused (the page could no longer say where its bytes stop).
TEST(DiffPageBytes, TheBudgetTakesTheLeadingItemsThatFitAndStopsAtTheFirstThatDoesNot) {
  struct Case {
    uint64_t most;
    std::vector<uint64_t> costs;
    std::vector<bool> taken;
  };
  const Case cases[] = {
      {10, {4, 6, 1}, {true, true, false}},   // filled to the byte, then closed
      {10, {4, 7, 1}, {true, false, false}},  // the 1 would fit, but comes after a refusal
      {5, {6, 1}, {false, false}},            // the first too large: nothing
      {0, {1}, {false}},                      // --html-bytes 0
  };
  for (const Case& c : cases) {
    pdiff::ByteBudget budget(c.most);
    std::vector<bool> taken;
    for (const uint64_t cost : c.costs) taken.push_back(budget.Take(cost));
    EXPECT_EQ(taken, c.taken) << c.most;
  }
}

// Catches bytes that are not the files', ranges taken out of the list's
// order, a count left out that is wrong, and a bound overrun, on a pair with
// three changed bytes far apart, at bounds from none to all.
TEST(DiffPageBytes, ACollectionHoldsTheFilesBytesOfTheFirstRangesWithinTheBound) {
  TempDir scratch;
  const ProbePart part = BuildProbePart();
  std::vector<uint8_t> changed = part.bytes;
  for (const uint32_t at : {part.freeSpace + 0x100, part.freeSpace + 0x400, part.freeSpace + 0x901})
    changed[at] ^= 0x5A;
  WriteBytes(scratch.path() / "MAIN.BIN", part.bytes);
  WriteBytes(scratch.path() / "BACKUP.BIN", changed);
  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  std::string problem;
  ASSERT_TRUE(main.Load((scratch.path() / "MAIN.BIN").string(), &problem)) << problem;
  ASSERT_TRUE(backup.Load((scratch.path() / "BACKUP.BIN").string(), &problem)) << problem;
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, {});
  ASSERT_EQ(comparison.differences.count, 3u);
  for (const uint64_t most : {0u, 100u, 200u, 1000u}) {
    const pdiff::PageBytes page = pdiff::CollectPageBytes(main, backup, comparison, most);
    EXPECT_LE(page.embedded, most);
    EXPECT_EQ(page.ranges.size() + page.rangesLeftOut, 3u);
    uint64_t embedded = 0;
    for (size_t i = 0; i < page.ranges.size(); ++i) {
      const pdiff::RangeBytes& range = page.ranges[i];
      EXPECT_EQ(range.flashOffset, pdiff::FlashOffset(comparison.geometry, comparison.differences.kept[i].begin));
      ASSERT_TRUE(range.main.from && range.backup.from);
      const pdiff::ByteWindow window =
          pdiff::WindowAround(range.flashOffset, range.flashOffset + range.length, UINT64_MAX);
      EXPECT_EQ(*range.main.from, window.from);
      EXPECT_EQ(std::vector<uint8_t>(part.bytes.begin() + long(window.from), part.bytes.begin() + long(window.to)),
                range.main.bytes);
      EXPECT_EQ(std::vector<uint8_t>(changed.begin() + long(window.from), changed.begin() + long(window.to)),
                range.backup.bytes);
      embedded += range.main.bytes.size() + range.backup.bytes.size();
    }
    EXPECT_EQ(page.embedded, embedded);
    if (page.rangesLeftOut > 0) {
      // The next range would have gone over.
      const pdiff::DifferingRange& next = comparison.differences.kept[page.ranges.size()];
      const uint64_t flash = pdiff::FlashOffset(comparison.geometry, next.begin);
      const pdiff::ByteWindow window = pdiff::WindowAround(flash, flash + next.end - next.begin, UINT64_MAX);
      EXPECT_GT(embedded + 2 * (window.to - window.from), most);
    }
  }
}

}  // namespace
