// SPDX-License-Identifier: BSD-2-Clause-Patent
// The simulator's low memory: blocks below 4 GiB, one-page blocks reused
// after release without hiding a use after release.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/low_memory.h"

namespace {

TEST(LowMemory, BlocksLieBelowFourGiBAndAreKnownOnlyWhileLive) {
  sim::LowMemory memory;
  void* page = memory.Allocate(112);
  void* large = memory.Allocate(3u << 20);
  ASSERT_NE(page, nullptr);
  ASSERT_NE(large, nullptr);
  EXPECT_LT(reinterpret_cast<uintptr_t>(large) + (3u << 20), uintptr_t(1) << 32);
  EXPECT_TRUE(memory.Contains(reinterpret_cast<uintptr_t>(page), 112));
  EXPECT_FALSE(memory.Contains(reinterpret_cast<uintptr_t>(page), 113));  // past the requested size
  EXPECT_TRUE(memory.Release(page));
  EXPECT_FALSE(memory.Contains(reinterpret_cast<uintptr_t>(page), 1));
  EXPECT_FALSE(memory.Release(page));  // not twice
  EXPECT_EQ(memory.live_blocks(), 1u);
  EXPECT_TRUE(memory.Release(large));
}

TEST(LowMemory, AReleasedPageIsReusedPoisoned) {
  sim::LowMemory memory;
  auto* first = static_cast<uint8_t*>(memory.Allocate(112));
  std::memset(first, 0, 112);
  ASSERT_TRUE(memory.Release(first));
  auto* second = static_cast<uint8_t*>(memory.Allocate(200));
  EXPECT_EQ(second, first);
  // What the last owner left is not visible to the next one.
  EXPECT_EQ(second[0], 0xDB);
  EXPECT_EQ(second[111], 0xDB);  // the bytes its last owner had
  EXPECT_TRUE(memory.Contains(reinterpret_cast<uintptr_t>(second), 200));
}

TEST(LowMemoryDeathTest, AWriteAfterReleaseIsCaughtAtTheNextAllocation) {
  EXPECT_DEATH(
      {
        sim::LowMemory memory;
        auto* page = static_cast<uint8_t*>(memory.Allocate(112));
        memory.Release(page);
        page[40] = 1;  // the program's fault: a write after release
        memory.Allocate(112);
      },
      "written at offset 40 after its release");
}

}  // namespace
