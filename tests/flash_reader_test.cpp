// SPDX-License-Identifier: BSD-2-Clause-Patent
// Reading flash ranges: window versus mailbox, progress, geometry on first use.
#include <gtest/gtest.h>

#include <cstring>

#include "firmware/flash_reader.h"
#include "firmware/pool.h"
#include "tests/support/sim_support.h"

namespace {

constexpr uint32_t k16MiB = 0x1000000;
constexpr uint32_t k8MiB = 0x800000;

struct PoolBuffer {
  explicit PoolBuffer(uint64_t size) : size(size), bytes(static_cast<uint8_t*>(AllocateErased(size))) {}
  ~PoolBuffer() { ReleasePool(bytes); }
  uint64_t size;
  uint8_t* bytes;
};

TEST(FlashReader, WholePartTakesTheLowerHalfThroughTheMailbox) {
  sim::Board board = support::PatternBoard(k16MiB, k8MiB, 4096);
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(k16MiB);
  ASSERT_EQ(ReadFlashRegion(buffer.bytes, 0, k16MiB, nullptr), kEfiSuccess);
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data(), k16MiB), 0);
  const sim::SmiCounts& smi = machine.report().smi;
  EXPECT_EQ(smi.read_block, 2048u);
  EXPECT_EQ(smi.begin_read, 2048u);
  EXPECT_EQ(smi.end_read, 2048u);
  EXPECT_EQ(machine.report().dma_faults, 0u);
  EXPECT_EQ(machine.console(), "");
  EXPECT_EQ(gTool.ReaderGeometry.FlashSize, k16MiB);
  EXPECT_EQ(gTool.ReaderGeometry.BiosSize, k8MiB);
}

TEST(FlashReader, BiosRegionComesFromTheWindow) {
  sim::Board board = support::PatternBoard(k16MiB, k8MiB, 4096);
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(k8MiB);
  ASSERT_EQ(ReadFlashRegion(buffer.bytes, k16MiB - k8MiB, k8MiB, "Reading "), kEfiSuccess);
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data() + (k16MiB - k8MiB), k8MiB), 0);
  EXPECT_EQ(machine.report().smi.read_block, 0u);
  std::vector<int> progress = support::ProgressValues(machine.console(), "Reading ");
  ASSERT_EQ(progress.size(), 2048u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(machine.console().back(), '\n');
}

TEST(FlashReader, EqualFlashAndBiosSizesReadEverythingFromTheWindow) {
  sim::Board board = support::PatternBoard(0x40000, 0x40000, 4096);
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(0x40000);
  ASSERT_EQ(ReadFlashRegion(buffer.bytes, 0, 0x40000, nullptr), kEfiSuccess);
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data(), 0x40000), 0);
  EXPECT_EQ(machine.report().smi.read_block, 0u);
}

TEST(FlashReader, ZeroLengthPrintsOnlyTheNewline) {
  sim::Machine machine(support::PatternBoard());
  support::StartFirmware();
  PoolBuffer buffer(4096);
  EXPECT_EQ(ReadFlashRegion(buffer.bytes, 0, 0, "Reading "), kEfiSuccess);
  EXPECT_EQ(machine.console(), "\n");
  EXPECT_EQ(buffer.bytes[0], 0xFF);
}

TEST(FlashReader, UnalignedStartBeginsAtTheBlockBelow) {
  sim::Board board = support::PatternBoard();
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(8192);
  ASSERT_EQ(ReadFlashRegion(buffer.bytes, 0x11800, 4096, nullptr), kEfiSuccess);
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data() + 0x11000, 4096), 0);
}

TEST(FlashReader, UnevenLengthTransfersTheLastBlockWhole) {
  sim::Board board = support::PatternBoard();
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(8192);
  ASSERT_EQ(ReadFlashRegion(buffer.bytes, 0x10000, 6144, "R "), kEfiSuccess);
  EXPECT_EQ(support::ProgressValues(machine.console(), "R "), (std::vector<int>{66, 133}));
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data() + 0x10000, 8192), 0);
}

TEST(FlashReader, MissingGeometryFailsSilentlyAfterThreeQueries) {
  sim::Board board = support::PatternBoard();
  sim::Machine machine(board);
  support::StartFirmware();
  machine.board().mailbox = sim::MailboxMode::None;
  uint64_t before = machine.report().smi.query;
  PoolBuffer buffer(4096);
  EXPECT_EQ(ReadFlashRegion(buffer.bytes, 0, 4096, "R "), kEfiUnsupported);
  EXPECT_EQ(machine.report().smi.query - before, 3u);
  EXPECT_EQ(gTool.ReaderGeometry.FlashSize, 0u);
  EXPECT_EQ(gTool.ReaderGeometry.BlockSize, 0u);
  EXPECT_EQ(machine.console(), "");
  EXPECT_EQ(buffer.bytes[0], 0xFF);
}

TEST(FlashReader, GeometryIsTakenOnceAndKept) {
  sim::Board board = support::PatternBoard();
  board.backup = support::PatternChip(0x40000, 0x20000, 0x2000, 3);
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(0x20000);
  ReadFlashRegion(buffer.bytes, 0, 4096, nullptr);
  uint64_t queries = machine.report().smi.query;
  machine.set_active_raw(1);
  ReadFlashRegion(buffer.bytes, 0, 4096, nullptr);
  EXPECT_EQ(machine.report().smi.query, queries);
  EXPECT_EQ(gTool.ReaderGeometry.BlockSize, 4096u);
}

TEST(FlashReader, BoundedReadNeverWritesPastItsBuffer) {
  // The mailbox reports 64 KiB blocks; the caller's buffer holds 6 KiB.
  sim::Board board = support::PatternBoard(0x40000, 0x20000, 0x10000);
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(0x3000);
  buffer.bytes[0x1800] = 0x5A;
  ASSERT_EQ(ReadFlashRegionInto(buffer.bytes, 0x1800, 0, 0x1800, nullptr), kEfiSuccess);
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data(), 0x1800), 0);
  EXPECT_EQ(buffer.bytes[0x1800], 0x5A);
  EXPECT_EQ(machine.report().dma_faults, 0u);
}

TEST(FlashReader, WindowReadsStopAtFourGiB) {
  // A 6 KiB part read in 4 KiB blocks: the second block would run 2 KiB past
  // the top of the window.
  sim::Board board = support::PatternBoard(0x1800, 0x1800, 4096);
  sim::Machine machine(board);
  support::StartFirmware();
  PoolBuffer buffer(8192);
  ASSERT_EQ(ReadFlashRegion(buffer.bytes, 0, 0x1800, nullptr), kEfiSuccess);
  EXPECT_EQ(machine.report().window_overruns, 0u);
  EXPECT_EQ(std::memcmp(buffer.bytes, board.main.image.data(), 0x1800), 0);
  EXPECT_EQ(buffer.bytes[0x1800], 0xFF);
}

TEST(FlashReader, DestinationsAboveFourGiBGoThroughALowBuffer) {
  sim::Board board = support::PatternBoard(0x20000, 0x10000, 4096);
  sim::Machine machine(board);
  support::StartFirmware();
  // Host heap memory lies above 4 GiB.
  std::vector<uint8_t> high(0x20000, 0xFF);
  ASSERT_GT(reinterpret_cast<uintptr_t>(high.data()), 0xFFFFFFFFull);
  ASSERT_EQ(ReadFlashRegion(high.data(), 0, 0x20000, nullptr), kEfiSuccess);
  EXPECT_EQ(high, board.main.image);
  EXPECT_EQ(machine.report().dma_faults, 0u);
  EXPECT_EQ(machine.report().smi.read_block, 16u);
  EXPECT_EQ(machine.impl().pages.live_blocks(), 0u);
}

}  // namespace
