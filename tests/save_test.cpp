// SPDX-License-Identifier: BSD-2-Clause-Patent
// The save command end to end: console text, the file, the chip left active.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/identity_boards.h"
#include "tests/support/sim_support.h"

using support::Banner;
using support::IdentityBoard;
using support::IdentityChipSpec;
using support::ReadFileBytes;
using support::TempDir;

namespace {

const std::string kReadCaption = "Reading BIOS from flash ROM ..... ";
const std::string kWriteCaption = "Writing BIOS to disk ............ ";
const std::string kChecksumOk = "BIOS checksum ................... ok\n";
const std::string kSaveFailure = "!!! Fail to save BIOS !!!\n";

std::string Progress(const std::string& caption, int blocks) {
  std::string text;
  for (int i = 1; i <= blocks; ++i) text += "\r" + caption + std::to_string(i * 100 / blocks) + "%";
  return text + "\n";
}

TEST(SaveCommand, MainWithMainActiveByteForByte) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.output, Banner() + "Current BIOS position: MAIN\n\n" + Progress(kReadCaption, 16) + kChecksumOk +
                            Progress(kWriteCaption, 16) + "BIOS successfully saved ......... MAIN.BIN\n" +
                            "\nCurrent BIOS position: MAIN\n");
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
  EXPECT_EQ(run.report.files, std::vector<std::string>{"MAIN.BIN"});
  EXPECT_TRUE(run.report.switch_requests.empty());
  // The 48 KiB below the BIOS region came through the mailbox.
  EXPECT_EQ(run.report.smi.read_block, 12u);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

TEST(SaveCommand, BackupFromMainSwitchesAndRestores) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.backup = support::IdentityChip(IdentityChipSpec{.filler_seed = 99});
  sim::RunResult run = sim::RunOnBoard(board, {"/S", "2"}, dir.str());
  EXPECT_EQ(run.output, Banner() + "Current BIOS position: MAIN\n\nSwitch to Backup BIOS ........... Ok\n" +
                            Progress(kReadCaption, 16) + kChecksumOk + Progress(kWriteCaption, 16) +
                            "BIOS successfully saved ......... BACKUP.BIN\n" +
                            "Restore BIOS position ........... Ok\n\nCurrent BIOS position: MAIN\n");
  EXPECT_EQ(ReadFileBytes(dir.path() / "BACKUP.BIN"), board.backup.image);
  EXPECT_EQ(run.report.switch_requests, (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(run.report.active_chip, 0);
  EXPECT_TRUE(run.report.stalls_us.empty());
}

TEST(SaveCommand, MainFromBackup) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.active = 1;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_NE(run.output.find("Current BIOS position: BACKUP\n\nSwitch to Main BIOS ............. Ok\n"),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
  EXPECT_EQ(run.report.active_chip, 1);
}

TEST(SaveCommand, FailedSwitchSavesNothing) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.switch_mode = sim::SwitchMode::Stuck;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "2"}, dir.str());
  EXPECT_EQ(run.output, Banner() + "Current BIOS position: MAIN\n\n!! Unable to switch to Backup BIOS !!\n");
  EXPECT_EQ(run.exit_status, 132);
  EXPECT_TRUE(run.report.files.empty());
  EXPECT_EQ(run.report.switch_requests.size(), 1u);
}

TEST(SaveCommand, ErasedTopBlockCreatesNoFile) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.backup = sim::ErasedChip(0x10000, 0x4000);
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "2"}, dir.str());
  EXPECT_EQ(run.output, Banner() + "Current BIOS position: MAIN\n\nSwitch to Backup BIOS ........... Ok\n" +
                            kSaveFailure + "Restore BIOS position ........... Ok\n\nCurrent BIOS position: MAIN\n");
  EXPECT_EQ(run.exit_status, 130);
  EXPECT_TRUE(run.report.files.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "BACKUP.BIN"));
  EXPECT_EQ(run.report.active_chip, 0);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

TEST(SaveCommand, NoDescriptorMeansNoChecksumLineButAFullFile) {
  TempDir dir;
  sim::Board board = support::PatternBoard(0x10000, 0x4000);
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.output.find(kChecksumOk), std::string::npos);
  EXPECT_NE(run.output.find("BIOS successfully saved ......... MAIN.BIN\n"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
}

TEST(SaveCommand, WrongStoredChecksumIsReportedAndTheFileStaysTheChip) {
  TempDir dir;
  IdentityChipSpec spec;
  sim::Board board = IdentityBoard(spec);
  // Corrupt one byte inside the checksummed range (the filler after the volume).
  board.main.image[0x10000 - 0x100] ^= 0x40;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.output.find(kChecksumOk), std::string::npos);
  EXPECT_NE(run.output.find("BIOS successfully saved ......... MAIN.BIN\n"), std::string::npos);
  // The dump shows the chip as it is, corruption included.
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
}

TEST(SaveCommand, SixteenMiBInSixtyFourKiBChunks) {
  TempDir dir;
  sim::Board board = support::PatternBoard(0x1000000, 0x800000, 0x10000);
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  std::vector<int> writes = support::ProgressValues(run.output, kWriteCaption);
  ASSERT_EQ(writes.size(), 256u);
  EXPECT_EQ(std::vector<int>(writes.begin(), writes.begin() + 6), (std::vector<int>{0, 0, 1, 1, 1, 2}));
  EXPECT_EQ(writes.back(), 100);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "MAIN.BIN"), 16777216u);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
  EXPECT_EQ(run.report.smi.read_block, 128u);
}

TEST(SaveCommand, ExistingFileIsReplaced) {
  TempDir dir;
  {
    std::ofstream old(dir.path() / "MAIN.BIN", std::ios::binary);
    old << std::string(0x30000, 'x');
  }
  sim::Board board = IdentityBoard();
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
  EXPECT_EQ(run.report.files, std::vector<std::string>{"MAIN.BIN"});
}

TEST(SaveCommand, InvalidGeometryCreatesNothing) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.main.block_size = 0;
  sim::Machine machine(board, dir.str());
  sim::RunResult run = sim::RunTool(machine, {"/s", "1"});
  EXPECT_EQ(run.output,
            Banner() + "Current BIOS position: MAIN\n\n!!! Invalid onboard BIOS !!!\n\nCurrent BIOS position: MAIN\n");
  EXPECT_EQ(run.report.smi.query, 3u);  // start-up, then the save's two tries
  EXPECT_TRUE(run.report.files.empty());
}

TEST(SaveCommand, PartSizeThatIsNotWholeBlocks) {
  TempDir dir;
  sim::Board board = support::PatternBoard(0x2800, 0x2000, 4096);
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
  EXPECT_EQ(support::ProgressValues(run.output, kWriteCaption), (std::vector<int>{40, 80, 120}));
  EXPECT_EQ(run.report.dma_faults, 0u);
  EXPECT_EQ(run.report.window_overruns, 0u);
}

TEST(SaveCommand, EveryAllocationFailingInTurnIsSurvived) {
  sim::Board board = IdentityBoard();
  sim::RunResult clean;
  {
    TempDir dir;
    clean = sim::RunOnBoard(board, {"/s", "2"}, dir.str());
  }
  ASSERT_EQ(clean.exit_status, 128);
  for (uint64_t ordinal = 1; ordinal <= clean.report.pool_allocations; ++ordinal) {
    TempDir dir;
    board.fail_alloc = {ordinal};
    sim::RunResult run = sim::RunOnBoard(board, {"/s", "2"}, dir.str());
    SCOPED_TRACE("allocation " + std::to_string(ordinal));
    EXPECT_EQ(run.report.pool_outstanding, 0u);
    EXPECT_EQ(run.report.active_chip, 0);
    EXPECT_EQ(run.report.dma_faults, 0u);
    // The console says "saved" exactly when the file holds the whole chip;
    // otherwise it says the save failed.
    bool saved = run.output.find("BIOS successfully saved") != std::string::npos;
    bool failed = run.output.find(kSaveFailure) != std::string::npos;
    if (run.exit_status == 128) {
      EXPECT_TRUE(saved && !failed);
    }
    if (run.exit_status == 130) {
      EXPECT_TRUE(failed && !saved);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "BACKUP.BIN.NEW"));
    if (saved) {
      EXPECT_EQ(ReadFileBytes(dir.path() / "BACKUP.BIN"), board.backup.image);
    }
  }
}

TEST(SaveCommand, MissingChecksumRecordOnlyDropsTheReport) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  sim::RunResult clean = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  // The record is the last allocation before the write (the read's mailbox
  // buffers come before it).
  board.fail_alloc = {clean.report.pool_allocations};
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.output.find(kChecksumOk), std::string::npos);
  EXPECT_NE(run.output.find("BIOS successfully saved ......... MAIN.BIN\n"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
}

}  // namespace
