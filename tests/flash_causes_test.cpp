// SPDX-License-Identifier: BSD-2-Clause-Patent
// The erased-block and bit-error rules over two chips built with known
// damage: chosen blocks erased on a chosen chip, chosen bits set or cleared,
// chosen data rewritten. Every cause is found with its chip and counts, and
// nothing else is claimed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "image/flash_causes.h"

namespace {

constexpr uint32_t kChip = 0x80000;  // 512 KiB, eight large blocks
constexpr uint32_t kBlocks = kChip / kEraseBlock;

struct Truth {
  std::vector<uint8_t> main, backup;
  uint32_t erased[2] = {0, 0};
  uint32_t erasedLarge[2] = {0, 0};
  std::set<uint32_t> erasedBlocks[2];
  uint32_t bitBytes = 0;
  uint32_t bitsOneOn[2] = {0, 0};
  std::set<uint32_t> bitBlocks, otherBlocks;
};

// Firmware-like data: every block holds some non-erased bytes, with erased
// runs inside blocks as real images have.
std::vector<uint8_t> DataChip(std::mt19937& random) {
  std::vector<uint8_t> chip(kChip);
  for (uint32_t i = 0; i < kChip; ++i) chip[i] = uint8_t(random());
  for (uint32_t block = 0; block < kBlocks; ++block)
    std::fill_n(chip.begin() + block * kEraseBlock + 0x800, random() % 0x700, 0xFF);
  return chip;
}

// One large block erased whole on `chip`, a few single blocks erased on
// either chip, bits flipped in other blocks (spaced, at most a few per
// block), and one block's data rewritten.
Truth Damage(uint32_t seed) {
  std::mt19937 random(seed);
  Truth truth;
  truth.main = DataChip(random);
  truth.backup = truth.main;
  std::vector<uint32_t> blocks(kBlocks);
  for (uint32_t i = 0; i < kBlocks; ++i) blocks[i] = i;
  // Blocks of the large block erased whole are taken out of the draw.
  const uint32_t large = random() % (kChip / kLargeEraseBlock);
  const int largeChip = int(random() % 2);
  const uint32_t perLarge = kLargeEraseBlock / kEraseBlock;
  blocks.erase(blocks.begin() + large * perLarge, blocks.begin() + (large + 1) * perLarge);
  std::shuffle(blocks.begin(), blocks.end(), random);
  auto erase = [&](int chip, uint32_t block) {
    std::vector<uint8_t>& bytes = chip == 0 ? truth.main : truth.backup;
    std::fill_n(bytes.begin() + block * kEraseBlock, kEraseBlock, 0xFF);
    ++truth.erased[chip];
    truth.erasedBlocks[chip].insert(block);
  };
  for (uint32_t i = 0; i < perLarge; ++i) erase(largeChip, large * perLarge + i);
  ++truth.erasedLarge[largeChip];
  size_t next = 0;
  const uint32_t singles = random() % 5;
  for (uint32_t i = 0; i < singles; ++i) erase(int(random() % 2), blocks[next++]);
  const uint32_t flipped = 1 + random() % 6;
  for (uint32_t i = 0; i < flipped; ++i) {
    const uint32_t block = blocks[next++];
    truth.bitBlocks.insert(block);
    const uint32_t bytes = 1 + random() % 4;
    for (uint32_t k = 0; k < bytes; ++k) {
      const uint32_t at = block * kEraseBlock + k * 1000 + random() % 900;
      const int bits = 1 + int(random() % 2);
      uint8_t mask = 0;
      while (__builtin_popcount(mask) < bits) mask |= uint8_t(1u << (random() % 8));
      const uint8_t before = truth.backup[at];
      truth.backup[at] ^= mask;
      truth.bitsOneOn[0] += uint32_t(__builtin_popcount(before & ~truth.backup[at] & 0xFF));
      truth.bitsOneOn[1] += uint32_t(__builtin_popcount(truth.backup[at] & ~before & 0xFF));
      ++truth.bitBytes;
    }
  }
  const uint32_t rewritten = blocks[next++];
  truth.otherBlocks.insert(rewritten);
  for (uint32_t i = 0; i < 64; ++i) truth.main[rewritten * kEraseBlock + 0x100 + i] ^= uint8_t(0x5A + i);
  return truth;
}

void ExpectFound(const FlashCauses& found, const Truth& truth, uint64_t base) {
  for (int chip = 0; chip < 2; ++chip) {
    EXPECT_EQ(found.ErasedBlocks[chip], truth.erased[chip]) << "chip " << chip;
    EXPECT_EQ(found.ErasedLargeBlocks[chip], truth.erasedLarge[chip]) << "chip " << chip;
    // The runs kept name exactly the erased blocks (when all are kept).
    if (found.ErasedRunCount[chip] <= kCauseOffsetsKept) {
      std::set<uint32_t> named;
      for (uint32_t r = 0; r < found.ErasedRunCount[chip]; ++r)
        for (uint32_t b = 0; b < found.ErasedRuns[chip][r].Blocks; ++b)
          named.insert(uint32_t((found.ErasedRuns[chip][r].Offset - base) / kEraseBlock) + b);
      EXPECT_EQ(named, truth.erasedBlocks[chip]) << "chip " << chip;
    }
    EXPECT_EQ(found.BitsOneOn[chip], truth.bitsOneOn[chip]) << "chip " << chip;
  }
  EXPECT_EQ(found.BitErrorBytes, truth.bitBytes);
  EXPECT_EQ(found.BitErrorBlocks, truth.bitBlocks.size());
  for (uint32_t i = 0; i < std::min(found.BitErrorBytes, kCauseOffsetsKept); ++i) {
    const uint64_t at = found.BitErrorOffsets[i] - base;
    EXPECT_NE(truth.main[at], truth.backup[at]);
    EXPECT_TRUE(truth.bitBlocks.count(uint32_t(at / kEraseBlock)));
  }
  EXPECT_EQ(found.OtherBlocks, truth.otherBlocks.size());
  EXPECT_EQ(found.OtherBytes, 64u);
}

// Catches: miscounted blocks or bits, a large block counted from a partial
// one, a chip swapped, data rewrites claimed as bit errors, bit errors lost
// beside erased blocks.
TEST(FlashCauses, EveryCauseOfKnownDamageIsFoundWithItsChipAndNothingElse) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Truth truth = Damage(seed);
    FlashCauses found;
    const uint64_t base = 0x1000000 - kChip;  // the top of a 16 MiB part
    FindFlashCauses(&found, truth.main.data(), truth.backup.data(), kChip, base);
    ExpectFound(found, truth, base);
    const int expectedChip = truth.bitsOneOn[0] > 0 && truth.bitsOneOn[1] > 0 ? 2 : truth.bitsOneOn[0] > 0 ? 0 : 1;
    EXPECT_EQ(BitErrorChip(found), expectedChip);

    // The same chips handed over in whole blocks of varying number give the
    // same answer (the kit reads a chip piece by piece).
    FlashCauses pieces;
    StartFlashCauses(&pieces);
    std::mt19937 random(seed);
    for (uint32_t at = 0; at < kChip;) {
      const uint32_t length = std::min<uint32_t>(kChip - at, kEraseBlock * (1 + random() % 24));
      AddFlashCauses(&pieces, truth.main.data() + at, truth.backup.data() + at, length, base + at);
      at += length;
    }
    FinishFlashCauses(&pieces);
    ExpectFound(pieces, truth, base);
  }
}

// Catches: an erased verdict for bytes that are not a whole aligned block
// (a dump starting mid-block, a chip whose end cuts a block).
TEST(FlashCauses, OnlyWholeAlignedBlocksAreErased) {
  std::mt19937 random(7);
  std::vector<uint8_t> main = DataChip(random);
  std::vector<uint8_t> backup = main;
  std::fill(backup.begin(), backup.begin() + 3 * kEraseBlock, 0xFF);
  FlashCauses found;
  // Placed half a block off: the erased bytes cover two whole blocks of the part.
  FindFlashCauses(&found, main.data(), backup.data(), kChip, 0x800);
  EXPECT_EQ(found.ErasedBlocks[1], 2u);
  EXPECT_EQ(found.ErasedRuns[1][0].Offset, 0x1000u);
  EXPECT_EQ(found.ErasedRuns[1][0].Blocks, 2u);
  EXPECT_EQ(found.ErasedBlocks[0], 0u);
  EXPECT_EQ(found.ErasedLargeBlocks[1], 0u);
  EXPECT_EQ(found.OtherBlocks, 2u);  // the two half blocks at either end of the erase
}

// Catches: flips close together (a counter or an address that changed)
// or many flips in one block taken for a failing part; blocks erased on
// both chips counted.
TEST(FlashCauses, ChangedDataIsNeverBitErrors) {
  std::mt19937 random(11);
  const std::vector<uint8_t> main = DataChip(random);
  std::vector<uint8_t> backup = main;
  backup[0x100] ^= 1;
  backup[0x103] ^= 2;  // closer than the scatter distance
  for (uint32_t i = 0; i <= kMostBitErrorBytesPerBlock; ++i) backup[0x1000 + i * 64] ^= 0x10;  // too many
  backup[0x2000] ^= 0x07;                                                                      // three bits
  std::vector<uint8_t> erasedBoth = main;
  std::fill_n(erasedBoth.begin() + 0x3000, kEraseBlock, 0xFF);
  std::fill_n(backup.begin() + 0x3000, kEraseBlock, 0xFF);
  FlashCauses found;
  FindFlashCauses(&found, erasedBoth.data(), backup.data(), kChip, 0);
  EXPECT_EQ(found.BitErrorBytes, 0u);
  EXPECT_EQ(found.OtherBlocks, 3u);
  EXPECT_EQ(found.ErasedBlocks[0] + found.ErasedBlocks[1], 0u);
  EXPECT_EQ(BitErrorChip(found), -1);
}

}  // namespace
