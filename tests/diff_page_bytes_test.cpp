// SPDX-License-Identifier: BSD-2-Clause-Patent
// The bytes a report page embeds for its bytes view, and its bound, which
// takes the ranges nearest the top of the list first, never goes over, and
// stops at the first that does not fit. What the view shows is checked in a browser (tests/browser/).
#include <gtest/gtest.h>

#include "diff/report/page_bytes.h"
#include "tests/support/diff_support.h"
#include "tests/support/sim_support.h"

namespace {

using namespace support;

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
// order, a bound overrun and one that stops short, on a pair with three
// changed bytes far apart, at bounds from none to all.
TEST(DiffPageBytes, ACollectionHoldsTheFilesBytesOfTheLeadingRangesThatFit) {
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
  const pdiff::PageBytes all = pdiff::CollectPageBytes(main, backup, comparison, UINT64_MAX);
  ASSERT_EQ(all.ranges.size(), 3u);
  std::vector<uint64_t> costs;
  for (const pdiff::RangeBytes& range : all.ranges) {
    // The part's own bytes on both chips (a whole part: flash offset is file offset), around the range.
    const uint64_t from = *range.main.from;
    EXPECT_TRUE(from < range.flashOffset && range.flashOffset < from + range.main.bytes.size());
    EXPECT_EQ(range.main.bytes, std::vector<uint8_t>(part.bytes.begin() + long(from),
                                                     part.bytes.begin() + long(from + range.main.bytes.size())));
    EXPECT_EQ(range.backup.bytes, std::vector<uint8_t>(changed.begin() + long(from),
                                                       changed.begin() + long(from + range.backup.bytes.size())));
    costs.push_back(range.main.bytes.size() + range.backup.bytes.size());
  }
  for (const uint64_t most : {uint64_t(0), costs[0] - 1, costs[0], costs[0] + costs[1] + costs[2] - 1}) {
    size_t fit = 0;
    for (uint64_t used = 0; fit < 3 && used + costs[fit] <= most; ++fit) used += costs[fit];
    const pdiff::PageBytes page = pdiff::CollectPageBytes(main, backup, comparison, most);
    EXPECT_LE(page.embedded, most);
    ASSERT_EQ(page.ranges.size(), fit) << most;
    EXPECT_EQ(page.rangesLeftOut, 3 - fit);
    for (size_t i = 0; i < fit; ++i) EXPECT_EQ(page.ranges[i].flashOffset, all.ranges[i].flashOffset);
  }
}

}  // namespace
