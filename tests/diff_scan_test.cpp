// SPDX-License-Identifier: BSD-2-Clause-Patent
// The range scan reads eight bytes at a time and skips equal 4 KiB chunks;
// it must find exactly the ranges a byte-by-byte walk finds, whatever the
// alignment of a difference within a word or a chunk.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "diff/compare/differences.h"

namespace {

using pdiff::DifferingRange;

// Byte by byte: runs of differing bytes, joined when at most kMergeGap
// equal bytes lie between them.
std::vector<DifferingRange> Reference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<DifferingRange> ranges;
  for (uint64_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (!ranges.empty() && i - ranges.back().end <= pdiff::kMergeGap) {
      ranges.back().end = i + 1;
      ++ranges.back().differingBytes;
    } else {
      ranges.push_back({i, i + 1, 1, nullptr});
    }
  }
  return ranges;
}

std::string Text(const std::vector<DifferingRange>& ranges) {
  std::string text;
  for (const DifferingRange& r : ranges)
    text += std::to_string(r.begin) + "-" + std::to_string(r.end) + ":" + std::to_string(r.differingBytes) + " ";
  return text;
}

// Catches a word scan that misplaces the first differing byte of a word, a
// run end found one byte off (the has-zero-byte test's false flags above a
// true zero), and a difference lost at a chunk's edge or in the tail
// shorter than a word.
TEST(DiffScan, FindsTheRangesAByteWalkFinds) {
  struct Case {
    const char* what;
    uint64_t size;
    std::vector<std::pair<uint64_t, uint64_t>> runs;  // [begin, end) flipped in b
  };
  const std::vector<Case> cases = {
      {"no difference", 8192, {}},
      {"every position of the first word", 64, {{0, 1}, {9, 10}, {18, 19}, {27, 28}, {36, 37}, {45, 46}, {63, 64}}},
      {"a run ending just before a byte that differs by 0x01", 40, {{3, 11}}},
      {"runs across a chunk edge", 12288, {{4090, 4102}, {8191, 8193}}},
      {"gaps of exactly and just over the merge gap", 200, {{10, 11}, {28, 29}, {60, 61}, {79, 80}}},
      {"a tail shorter than a word", 4101, {{4096, 4101}}},
      {"all of a short buffer", 13, {{0, 13}}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> a(c.size, 0x11), b(c.size, 0x11);
    for (auto [begin, end] : c.runs)
      for (uint64_t i = begin; i < end; ++i) b[i] = uint8_t(a[i] ^ (i % 2 == 0 ? 0x01 : 0x80));
    EXPECT_EQ(Text(pdiff::FindDifferingRanges(a.data(), b.data(), c.size)), Text(Reference(a, b))) << c.what;
  }
  // Random sparse differences at every alignment.
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    const uint64_t size = 1 + random() % 9000;
    std::vector<uint8_t> a(size), b;
    for (uint8_t& byte : a) byte = uint8_t(random());
    b = a;
    for (uint64_t i = 0; i < size; ++i)
      if (random() % 29 == 0) b[i] = uint8_t(b[i] ^ (1u << (random() % 8)));
    EXPECT_EQ(Text(pdiff::FindDifferingRanges(a.data(), b.data(), size)), Text(Reference(a, b))) << "round " << round;
  }
}

}  // namespace
