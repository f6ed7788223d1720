// SPDX-License-Identifier: BSD-2-Clause-Patent
// VerifyDescriptorChecksums and ScrambleSum.
#include <gtest/gtest.h>

#include <cstring>

#include "image/checksums.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::GuardedBuffer;
using sim::Bytes;

constexpr size_t kImageSize = 0x10000;                 // the top 64 KiB of the window
constexpr uint32_t kBase = 0u - uint32_t(kImageSize);  // window address of the first byte
constexpr size_t kDescriptorAt = 0x8000;

uint32_t Rotr(uint32_t v, uint32_t r) {
  r %= 32;
  return r == 0 ? v : (v >> r) | (v << (32 - r));
}

// A pseudo-random image with the descriptor at kDescriptorAt and its table
// values computed by the builder.
Bytes ImageWith(const sim::DescriptorSpec& spec, bool compute = true) {
  Bytes image = sim::PseudoRandomBytes(kImageSize, 7);
  const Bytes d = sim::BuildDescriptor(spec);
  std::memcpy(image.data() + kDescriptorAt, d.data(), d.size());
  if (compute) sim::ComputeDescriptorChecksums(image, kDescriptorAt);
  return image;
}

uint32_t StoredValue(const Bytes& image, const sim::DescriptorSpec& spec, size_t index) {
  uint32_t v;
  std::memcpy(&v, image.data() + kDescriptorAt + spec.checksum_table_offset.value_or(192) + 16 * index + 12, 4);
  return v;
}

// Runs the verification on a guarded copy and checks that the buffer is
// left exactly as it was.
bool Verify(const Bytes& image, size_t descriptor = kDescriptorAt) {
  GuardedBuffer buffer(image);
  const bool result = VerifyDescriptorChecksums(buffer.data(), uint32_t(buffer.size()), buffer.data() + descriptor);
  EXPECT_EQ(buffer.bytes(), image) << "the image was changed";
  return result;
}

sim::ChecksumRange Range(uint32_t offset, uint32_t unit_size, uint16_t unit_count) {
  return {kBase + offset, unit_size, unit_count, 0};
}

TEST(ChecksumScramble, WorkedExample) {
  const char* text = "abcdefgh";
  uint32_t w0, w1;
  std::memcpy(&w0, text, 4);
  std::memcpy(&w1, text + 4, 4);
  ASSERT_EQ(w0 + w1, 0xCCCAC8C6u);
  EXPECT_EQ(ScrambleSum(0xCCCAC8C6u, 0), 0xCC593263u);
  EXPECT_EQ(ScrambleSum(0xCCCAC8C6u, 1), 0xE62C9931u);
  EXPECT_EQ(ScrambleSum(0xCCCAC8C6u, 33), 0xE62C9931u);
  EXPECT_EQ(ScrambleSum(0xCCCAC8C6u, 32), 0xCC593263u);
}

TEST(ChecksumScramble, EachInputBitLandsOnItsOutputBit) {
  // Output position of input bits 0 to 31 before the word rotation.
  const int kTarget[32] = {7,  0,  1,  2,  3,  4,  5,  6,  14, 15, 8,  9,  10, 11, 12, 13,
                           21, 22, 23, 16, 17, 18, 19, 20, 28, 29, 30, 31, 24, 25, 26, 27};
  for (int bit = 0; bit < 32; ++bit) {
    EXPECT_EQ(ScrambleSum(1u << bit, 0), 1u << kTarget[bit]) << "bit " << bit;
    EXPECT_EQ(ScrambleSum(1u << bit, 5), Rotr(1u << kTarget[bit], 5)) << "bit " << bit;
  }
  for (uint32_t index : {0u, 1u, 31u, 32u, 63u, 200u, 254u})
    EXPECT_EQ(ScrambleSum(0x12345678u, index), Rotr(ScrambleSum(0x12345678u, 0), index)) << index;
  EXPECT_EQ(ScrambleSum(0, 17), 0u);
}

TEST(DescriptorChecksums, WorkedExampleInATable) {
  // Entries 0, 1 and 33 list the same 8 bytes "abcdefgh"; the others are empty.
  sim::DescriptorSpec spec;
  spec.checksums.resize(34);
  for (size_t i : {size_t(0), size_t(1), size_t(33)}) spec.checksums[i] = Range(0x100, 4, 2);
  spec.checksums[0].checksum = 0xCC593263u;
  spec.checksums[1].checksum = 0xE62C9931u;
  spec.checksums[33].checksum = 0xE62C9931u;
  Bytes image = ImageWith(spec, /*compute=*/false);
  std::memcpy(image.data() + 0x100, "abcdefgh", 8);
  EXPECT_TRUE(Verify(image));
  image[0x100] = 'A';
  EXPECT_FALSE(Verify(image));
}

TEST(DescriptorChecksums, SignaturesMustHold) {
  sim::DescriptorSpec spec;
  spec.checksums = {Range(0, 0x100, 4)};
  Bytes image = ImageWith(spec);
  EXPECT_TRUE(Verify(image));
  Bytes sig = image;
  sig[kDescriptorAt + 3] = 'X';
  EXPECT_FALSE(Verify(sig));
  Bytes sig2 = image;
  sig2[kDescriptorAt + 9] = 0x5B;
  EXPECT_FALSE(Verify(sig2));
}

TEST(DescriptorChecksums, TableNotInForceAlwaysPasses) {
  for (uint8_t enabled : {0, 2, 0xFF}) {
    sim::DescriptorSpec spec;
    spec.checksum_enabled = enabled;
    spec.checksums = {Range(0, 0x100, 4)};
    spec.checksums[0].checksum = 0xDEADBEEF;
    EXPECT_TRUE(Verify(ImageWith(spec, false))) << int(enabled);
  }
  sim::DescriptorSpec empty;
  EXPECT_TRUE(Verify(ImageWith(empty)));
}

TEST(DescriptorChecksums, EmptyRangesSumToZero) {
  sim::DescriptorSpec spec;
  spec.checksums = {{0, 0x1000, 0, 0}, {kBase, 0, 100, 0}, {kBase + 0x10, 0x10, 0, 0}};
  Bytes image = ImageWith(spec, false);
  EXPECT_TRUE(Verify(image));
  // Any other stored value is a mismatch.
  spec.checksums[1].checksum = 1;
  EXPECT_FALSE(Verify(ImageWith(spec, false)));
}

TEST(DescriptorChecksums, PartialLastWordTakesInTheFollowingBytes) {
  sim::DescriptorSpec spec;
  spec.checksums = {Range(0x200, 5, 1)};
  Bytes image = ImageWith(spec);
  EXPECT_TRUE(Verify(image));
  Bytes after = image;
  after[0x200 + 7] ^= 1;  // past the 5 bytes, inside the second word
  EXPECT_FALSE(Verify(after));
  Bytes beyond = image;
  beyond[0x200 + 8] ^= 1;  // past the second word
  EXPECT_TRUE(Verify(beyond));
}

TEST(DescriptorChecksums, RangesOverTheTableSeeZeroChecksumFields) {
  // The table starts at an odd offset so that its Checksum fields fall across
  // word boundaries of the ranges; two ranges start at different alignments.
  sim::DescriptorSpec spec;
  spec.checksum_table_offset = 0xC3;
  spec.checksums = {Range(0, 0x1000, 16), Range(kDescriptorAt + 1, 0x101, 1), Range(kDescriptorAt + 0xC0, 3, 31),
                    Range(0x40, 0x10, 4)};
  Bytes image = ImageWith(spec);
  EXPECT_TRUE(Verify(image));
  // Another stored value in the table breaks only its own entry's check, but that is enough.
  Bytes other = image;
  other[kDescriptorAt + 0xC3 + 16 * 3 + 12] ^= 0x40;
  EXPECT_FALSE(Verify(other));
}

TEST(DescriptorChecksums, SameRangeAtNeighbouringEntriesIsRotatedByOneBit) {
  sim::DescriptorSpec spec;
  spec.checksums = {Range(0x1000, 0x100, 8), Range(0x1000, 0x100, 8)};
  Bytes image = ImageWith(spec);
  EXPECT_TRUE(Verify(image));
  const uint32_t first = StoredValue(image, spec, 0);
  const uint32_t second = StoredValue(image, spec, 1);
  EXPECT_EQ(second, Rotr(first, 1));
  ASSERT_NE(first, second);
  spec.checksums[0].checksum = second;
  spec.checksums[1].checksum = first;
  EXPECT_FALSE(Verify(ImageWith(spec, false)));
}

TEST(DescriptorChecksums, OnlyBytesInsideRangesMatter) {
  sim::DescriptorSpec spec;
  spec.checksums = {Range(0x0000, 0x1000, 2), Range(0x4000, 0x100, 16)};
  const Bytes image = ImageWith(spec);
  ASSERT_TRUE(Verify(image));
  for (size_t offset : {size_t(0), size_t(0x1FFF), size_t(0x4000), size_t(0x4FFF)}) {
    Bytes changed = image;
    changed[offset] ^= 0x01;
    EXPECT_FALSE(Verify(changed)) << std::hex << offset;
  }
  for (size_t offset : {size_t(0x2000), size_t(0x3FFF), size_t(0x5000), kImageSize - 1}) {
    Bytes changed = image;
    changed[offset] ^= 0x01;
    EXPECT_TRUE(Verify(changed)) << std::hex << offset;
  }
}

TEST(DescriptorChecksums, RangesAndTablesOutsideTheBufferAreMismatches) {
  // Values are computed for the ranges inside; those outside keep 0, which is
  // what an empty range would sum to, so only the bounds decide.
  auto verdict = [](std::vector<sim::ChecksumRange> ranges) {
    sim::DescriptorSpec spec;
    spec.checksums = std::move(ranges);
    return Verify(ImageWith(spec));
  };
  EXPECT_TRUE(verdict({Range(0, 0x100, 1), Range(kImageSize - 0x100, 0x100, 1)}));
  EXPECT_FALSE(verdict({Range(0, 0x100, 1), {kBase - 0x100, 0x100, 1, 0}}));  // below the buffer
  EXPECT_FALSE(verdict({Range(kImageSize - 0x100, 0x101, 1)}));               // one byte past the end
  EXPECT_FALSE(verdict({Range(kImageSize - 5, 5, 1)}));                       // its second word would pass 4 GiB
  EXPECT_FALSE(verdict({{0xFFFFFFF0u, 0x10000, 0xFFFF, 0}}));
  // The length is a 32-bit product: 0x20000 * 0x8000 wraps to an empty range.
  EXPECT_TRUE(verdict({{kBase, 0x20000, 0x8000, 0}}));
  {
    // A table that claims 255 entries running past the buffer's end.
    sim::DescriptorSpec spec;
    spec.checksum_table_offset = 0x7000;
    spec.checksum_count = 255;
    EXPECT_FALSE(Verify(ImageWith(spec, false)));
  }
  {
    // A descriptor whose fields run past the end of the buffer.
    Bytes image = sim::PseudoRandomBytes(kImageSize, 3);
    const Bytes d = sim::BuildDescriptor(sim::DescriptorSpec{});
    std::memcpy(image.data() + kImageSize - 64, d.data(), 64);
    EXPECT_FALSE(Verify(image, kImageSize - 64));
  }
}

TEST(DescriptorChecksums, BuilderScrambleAgreesWithTheProgram) {
  // The builder's bit-table formulation and the program's rotations must agree,
  // or every table the builder computes would be wrong in the same way.
  Bytes values = sim::PseudoRandomBytes(4 * 64, 11);
  for (uint32_t i = 0; i < 64; ++i) {
    uint32_t v;
    std::memcpy(&v, values.data() + 4 * i, 4);
    EXPECT_EQ(sim::ScrambledChecksum(v, i * 5), ScrambleSum(v, i * 5));
  }
}

}  // namespace
