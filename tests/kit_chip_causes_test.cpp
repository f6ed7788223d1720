// SPDX-License-Identifier: BSD-2-Clause-Patent
// The kit's word on why two saved chips differ, on chips made with a known
// truth: a seeded random part, then blocks erased, bits flipped or a region
// rewritten as another build would, on a chosen chip.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "kit/chip_causes.h"

namespace {

constexpr uint64_t kPart = 1 << 20;
constexpr uint32_t kBlock = 0x1000;

struct Pair {
  std::vector<uint8_t> chips[2];
};

// Data everywhere (no byte 0xFF), so that an erased block is only one the
// case erased.
Pair RandomPair(std::mt19937& random) {
  Pair pair;
  pair.chips[0].resize(kPart);
  for (uint8_t& byte : pair.chips[0]) byte = uint8_t(random() % 0xFF);
  pair.chips[1] = pair.chips[0];
  return pair;
}

CauseFinding Judge(const Pair& pair) {
  FlashCauses causes;
  FindFlashCauses(&causes, pair.chips[0].data(), pair.chips[1].data(), kPart, 0);
  return JudgeChipCauses(causes);
}

std::vector<uint64_t> DistinctBlocks(std::mt19937& random, unsigned count) {
  std::set<uint64_t> blocks;
  while (blocks.size() < count) blocks.insert(random() % (kPart / kBlock));
  return {blocks.begin(), blocks.end()};
}

}  // namespace

// Catches: erased blocks on one chip not named, named on the wrong chip or
// miscounted, or an interrupted update's one half-written block hiding them.
TEST(KitChipCauses, ErasedBlocksOnOneChipAreNamedWithTheirChipAndCount) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    Pair pair = RandomPair(random);
    const uint8_t chip = seed % 2;
    const unsigned count = 1 + random() % 20;
    std::vector<uint64_t> blocks = DistinctBlocks(random, count + 1);
    for (unsigned i = 0; i < count; ++i)
      std::fill_n(pair.chips[chip].begin() + blocks[i] * kBlock, kBlock, uint8_t(0xFF));
    // Half the cases: the block the cut update was writing, half written.
    if (seed % 4 < 2) std::fill_n(pair.chips[chip].begin() + blocks[count] * kBlock, kBlock / 2, uint8_t(0x5A));
    const CauseFinding finding = Judge(pair);
    EXPECT_EQ(finding.Kind, ChipCause::Erased) << "seed " << seed;
    EXPECT_EQ(finding.Chip, chip) << "seed " << seed;
    EXPECT_EQ(finding.Count, count) << "seed " << seed;
  }
}

// Catches: scattered flips not told as bit errors, the failing chip taken
// from the wrong direction (the chip reading 1 where the other reads 0), or
// both directions not said.
TEST(KitChipCauses, ScatteredFlipsAreBitErrorsOfTheChipReadingOne) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    Pair pair = RandomPair(random);
    const int direction = seed % 3;  // 0: Main reads 1, 1: Backup reads 1, 2: both ways
    const unsigned count = (direction == 2 ? 2 : 1) + random() % 30;
    std::vector<uint64_t> blocks = DistinctBlocks(random, count);
    unsigned bits = 0;
    for (unsigned i = 0; i < count; ++i) {
      const uint64_t offset = blocks[i] * kBlock + random() % kBlock;
      const int toward = direction == 2 ? int(i % 2) : direction;
      // A bit that reads 1 on `toward` and 0 on the other chip.
      uint8_t& high = pair.chips[toward][offset];
      uint8_t& low = pair.chips[1 - toward][offset];
      const uint8_t bit = uint8_t(1u << (random() % 8));
      high = uint8_t(high | bit);
      low = uint8_t(low & ~bit);
      ++bits;  // the byte was the same on both chips: one bit differs now
    }
    const CauseFinding finding = Judge(pair);
    ASSERT_EQ(finding.Kind, ChipCause::BitErrors) << "seed " << seed;
    EXPECT_EQ(finding.Chip, direction) << "seed " << seed;
    EXPECT_EQ(finding.Bits, bits) << "seed " << seed;
  }
}

// Catches: a rebuilt region (many bytes changed together) or erasures on
// both chips claimed as erased blocks or bit errors: the kit must say
// "other" and leave the cause to the workstation.
TEST(KitChipCauses, RewrittenRegionsAndErasuresOnBothChipsAreOther) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    Pair pair = RandomPair(random);
    if (seed % 2 == 0) {
      const uint64_t start = (random() % (kPart / kBlock - 8)) * kBlock;
      for (uint64_t i = start; i < start + 5 * kBlock + 123; ++i) pair.chips[1][i] = uint8_t(random() % 0xFF);
    } else {
      std::vector<uint64_t> blocks = DistinctBlocks(random, 2);
      std::fill_n(pair.chips[0].begin() + blocks[0] * kBlock, kBlock, uint8_t(0xFF));
      std::fill_n(pair.chips[1].begin() + blocks[1] * kBlock, kBlock, uint8_t(0xFF));
    }
    EXPECT_EQ(Judge(pair).Kind, ChipCause::Other) << "seed " << seed;
  }
}
