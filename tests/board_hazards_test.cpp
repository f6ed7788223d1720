// SPDX-License-Identifier: BSD-2-Clause-Patent
// Hazards that real boards have and a kind simulated board would hide: MTRR
// masks on processors with memory encryption, and device registers below the
// 16 MiB flash decode.
#include <gtest/gtest.h>

#include "tests/support/identity_boards.h"
#include "tests/support/sim_support.h"

using support::ReadFileBytes;
using support::TempDir;

namespace {

const std::vector<std::vector<std::string>> kEveryCommand = {{},          {"/i"},      {"/delay", "1"}, {"/p"},
                                                             {"/c", "1"}, {"/c", "2"}, {"/s", "1"},     {"/s", "2"}};

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += word + " ";
  return text;
}

TEST(MemoryEncryption, NoCommandFaultsAndTheMaskLeavesTheKeyIdBitsClear) {
  for (uint32_t physical : {36u, 39u, 46u, 52u}) {
    for (uint32_t keyId : {0u, 4u, 6u}) {
      sim::Board board = support::IdentityBoard();
      board.phys_address_bits = physical;
      board.tme_keyid_bits = keyId;
      uint32_t usable = physical - keyId;
      for (const auto& command : kEveryCommand) {
        SCOPED_TRACE(std::to_string(physical) + " bits, " + std::to_string(keyId) + " KeyID bits, " + Joined(command));
        TempDir dir;
        sim::RunResult run = sim::RunOnBoard(board, command, dir.str());
        EXPECT_TRUE(run.report.cpu_faults.empty()) << run.report.cpu_faults.front();
        bool overrides = command != std::vector<std::string>{"/p"};
        if (!overrides || usable < 32) {
          EXPECT_TRUE(run.report.msr_writes.empty());
          EXPECT_EQ(run.report.cr3_reloads, 0u);
          continue;
        }
        uint64_t mask = (((1ull << usable) - 1) & ~uint64_t(0xFFFFFF)) | 0x800;
        ASSERT_EQ(run.report.msr_writes.size(), 2u);
        EXPECT_EQ(run.report.msr_writes[0], (std::pair<uint32_t, uint64_t>{0x212, 0xFF000000}));
        EXPECT_EQ(run.report.msr_writes[1], (std::pair<uint32_t, uint64_t>{0x213, mask}));
      }
    }
  }
}

TEST(MemoryEncryption, FortySixBitsWithSixKeyIdBits) {
  sim::Board board = support::IdentityBoard();
  board.phys_address_bits = 46;
  board.tme_keyid_bits = 6;
  sim::RunResult run = sim::RunOnBoard(board, {"/c", "2"});
  ASSERT_EQ(run.report.msr_writes.size(), 2u);
  EXPECT_EQ(run.report.msr_writes[1].second, 0x000000FFFF000800ull);
}

TEST(MemoryEncryption, NinePairsAreTooFewForPairNine) {
  sim::Board board = support::IdentityBoard();
  board.mtrr_variable_pairs = 9;
  sim::RunResult run = sim::RunOnBoard(board, {"/c", "2"});
  EXPECT_TRUE(run.report.msr_writes.empty());
  EXPECT_TRUE(run.report.cpu_faults.empty());
}

struct Geometry {
  uint32_t flash;
  uint32_t bios;
  uint32_t block;
};

constexpr uint32_t kMiB = 1u << 20;

// Blocks of `range` bytes that lie below the flash decode, which only the
// mailbox may fetch.
uint64_t BlocksBelowTheDecode(uint32_t range, uint32_t block) {
  return range > 16 * kMiB ? (range - 16 * kMiB) / block : 0;
}

TEST(FlashDecodeFloor, NoCommandReadsTheWindowBelowTheTopSixteenMiB) {
  for (uint32_t flash : {32 * kMiB, 64 * kMiB}) {
    sim::Board board = support::PatternBoard(flash, 16 * kMiB, 4096);
    board.backup = board.main;  // equal chips: the compare runs to its end
    for (uint32_t bios : {16 * kMiB, 24 * kMiB, 32 * kMiB}) {
      for (uint32_t block : {4096u, 65536u}) {
        for (sim::Chip* chip : {&board.main, &board.backup}) {
          chip->bios_size = bios;
          chip->block_size = block;
        }
        Geometry geometry{flash, bios, block};
        SCOPED_TRACE(std::to_string(geometry.flash >> 20) + " MiB part, " + std::to_string(geometry.bios >> 20) +
                     " MiB region, " + std::to_string(geometry.block) + " byte blocks");
        TempDir dir;
        sim::RunResult compare = sim::RunOnBoard(board, {}, dir.str());
        EXPECT_EQ(compare.exit_status, 128);
        EXPECT_EQ(compare.report.mmio_reads, 0u);
        EXPECT_EQ(compare.report.smi.read_block, 2 * BlocksBelowTheDecode(bios, block));

        for (const char* selection : {"1", "2"}) {
          sim::RunResult save = sim::RunOnBoard(board, {"/s", selection}, dir.str());
          EXPECT_EQ(save.exit_status, 128);
          EXPECT_EQ(save.report.mmio_reads, 0u);
          EXPECT_EQ(save.report.smi.read_block, BlocksBelowTheDecode(flash, block));
        }
        EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
        EXPECT_EQ(ReadFileBytes(dir.path() / "BACKUP.BIN"), board.backup.image);
      }
    }
  }
}

TEST(FlashDecodeFloor, ThirtyTwoMiBPartWithATwentyFourMiBRegion) {
  sim::Board board = support::PatternBoard(32 * kMiB, 24 * kMiB, 65536);
  board.backup = board.main;
  TempDir dir;
  EXPECT_EQ(sim::RunOnBoard(board, {}, dir.str()).report.smi.read_block, 2 * 128u);
  EXPECT_EQ(sim::RunOnBoard(board, {"/s", "1"}, dir.str()).report.smi.read_block, 256u);
}

TEST(FlashDecodeFloor, TheSavesTopBlockTestStaysInTheDecode) {
  // A block larger than the decode: only its top 16 MiB are compared.
  sim::Board board = support::PatternBoard(64 * kMiB, 32 * kMiB, 32 * kMiB);
  TempDir dir;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(run.report.mmio_reads, 0u);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);

  // The same part erased in its top 16 MiB and written below: not saved.
  std::fill(board.main.image.end() - 16 * kMiB, board.main.image.end(), 0xFF);
  run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.exit_status, 130);
  EXPECT_EQ(run.report.mmio_reads, 0u);
}

}  // namespace
