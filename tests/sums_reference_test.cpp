// SPDX-License-Identifier: BSD-2-Clause-Patent
// ByteSum and WordSum32 take lanes and two accumulators for speed; here they
// are held against the plain loops they replace.
#include <gtest/gtest.h>

#include <initializer_list>
#include <random>

#include "image/checksums.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::GuardedBuffer;

uint8_t PlainByteSum(const uint8_t* bytes, uint64_t count) {
  uint8_t sum = 0;
  for (uint64_t i = 0; i < count; ++i) sum = uint8_t(sum + bytes[i]);
  return sum;
}

uint32_t PlainWordSum(const uint8_t* bytes, uint64_t words) {
  uint32_t sum = 0;
  for (uint64_t i = 0; i < 4 * words; i += 4)
    sum +=
        uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 | uint32_t(bytes[i + 2]) << 16 | uint32_t(bytes[i + 3]) << 24;
  return sum;
}

constexpr size_t kBufferSize = 0x6000;  // room for ranges far past 128 lane steps

// Every range [offset, offset + length) of the buffer that ends at its last
// byte is also tried, so a read past the range faults in the guard page.
void ExpectSumsAgree(GuardedBuffer& buffer, std::mt19937& random, int ranges) {
  std::uniform_int_distribution<size_t> anyOffset(0, buffer.size());
  for (int i = 0; i < ranges; ++i) {
    const size_t offset = anyOffset(random);
    const size_t length = std::uniform_int_distribution<size_t>(0, buffer.size() - offset)(random);
    const uint8_t* start = buffer.data() + offset;
    SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length));
    ASSERT_EQ(uint8_t(ByteSum(start, length)), PlainByteSum(start, length));
    ASSERT_EQ(WordSum32(start, length / 4), PlainWordSum(start, length / 4));
    // The same length ending exactly at the buffer's end.
    const uint8_t* tail = buffer.end() - length;
    ASSERT_EQ(uint8_t(ByteSum(tail, length)), PlainByteSum(tail, length));
    ASSERT_EQ(WordSum32(tail, length / 4), PlainWordSum(tail, length / 4));
  }
}

TEST(SumsReference, RandomRangesOfRandomBytes) {
  GuardedBuffer buffer(sim::PseudoRandomBytes(kBufferSize, 31));
  std::mt19937 random(2024);
  ExpectSumsAgree(buffer, random, 2000);
}

TEST(SumsReference, RandomRangesOfErasedBytes) {
  // All-0xFF data fills the 16-bit lanes fastest: a lane that overflows shows.
  GuardedBuffer buffer(kBufferSize);  // erased
  std::mt19937 random(77);
  ExpectSumsAgree(buffer, random, 2000);
}

TEST(SumsReference, EveryShortLengthAndTheLaneStepBoundaries) {
  GuardedBuffer erased(kBufferSize);
  GuardedBuffer random(sim::PseudoRandomBytes(kBufferSize, 5));
  for (GuardedBuffer* buffer : {&erased, &random}) {
    for (size_t length : std::initializer_list<size_t>{0,          1,    2,    3,    4,    5,    7,
                                                       8,          9,    15,   16,   17,   1023, 1024,
                                                       1025,       1031, 1032, 1033, 2048, 2056, kBufferSize - 1,
                                                       kBufferSize}) {
      for (size_t misalignment = 0; misalignment < 8 && misalignment + length <= kBufferSize; ++misalignment) {
        const uint8_t* start = buffer->end() - length - misalignment;
        SCOPED_TRACE("length " + std::to_string(length) + ", misalignment " + std::to_string(misalignment));
        ASSERT_EQ(uint8_t(ByteSum(start, length)), PlainByteSum(start, length));
        ASSERT_EQ(WordSum32(start, length / 4), PlainWordSum(start, length / 4));
      }
    }
  }
}

TEST(SumsReference, ErasedSumsAreExact) {
  // 0xFF * n and 0xFFFFFFFF * n: known without any loop.
  GuardedBuffer buffer(kBufferSize);
  EXPECT_EQ(uint8_t(ByteSum(buffer.data(), kBufferSize)), uint8_t(0xFF * kBufferSize));
  EXPECT_EQ(WordSum32(buffer.data(), kBufferSize / 4), uint32_t(0u - uint32_t(kBufferSize / 4)));
}

}  // namespace
