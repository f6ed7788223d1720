// SPDX-License-Identifier: BSD-2-Clause-Patent
// /p, /c and the shared position operations.
#include <gtest/gtest.h>

#include "app/position_commands.h"
#include "firmware/chip_position.h"
#include "firmware/chip_select.h"
#include "tests/support/sim_support.h"

using support::Banner;

namespace {

TEST(PositionCommand, ReportsTheActiveChip) {
  sim::Board board = support::PatternBoard();
  sim::RunResult onMain = sim::RunOnBoard(board, {"/p"});
  EXPECT_EQ(onMain.output, Banner() + "Current BIOS position: MAIN\n");
  EXPECT_EQ(onMain.exit_status, 145);

  board.active = 1;
  sim::RunResult onBackup = sim::RunOnBoard(board, {"/P"});
  EXPECT_EQ(onBackup.output, Banner() + "Current BIOS position: BACKUP\n");
  EXPECT_EQ(onBackup.exit_status, 146);
  EXPECT_TRUE(onBackup.report.switch_requests.empty());

  // A raw position the firmware should never give is named BACKUP and leaves 128.
  board.active = 7;
  sim::RunResult odd = sim::RunOnBoard(board, {"/p"});
  EXPECT_EQ(odd.output, Banner() + "Current BIOS position: BACKUP\n");
  EXPECT_EQ(odd.exit_status, 128);
}

TEST(ChangeCommand, SwitchesAndLeavesTheNewChipActive) {
  sim::RunResult run = sim::RunOnBoard(support::PatternBoard(), {"/c", "2"});
  EXPECT_EQ(run.output, Banner() +
                            "Original BIOS position: MAIN\n"
                            "Switch BIOS from [ MAIN ] to [ BACKUP ] successfully !\n");
  EXPECT_EQ(run.exit_status, 146);
  EXPECT_EQ(run.report.active_chip, 1);
  EXPECT_EQ(run.report.switch_requests, std::vector<uint8_t>{1});
  EXPECT_TRUE(run.report.stalls_us.empty());
  // The cache override follows the successful switch.
  ASSERT_EQ(run.report.msr_writes.size(), 2u);
  EXPECT_EQ(run.report.cr3_reloads, 1u);
}

TEST(ChangeCommand, ToTheChipAlreadyActiveStillRequestsIt) {
  sim::RunResult run = sim::RunOnBoard(support::PatternBoard(), {"/c", "1"});
  EXPECT_EQ(run.output, Banner() +
                            "Original BIOS position: MAIN\n"
                            "Switch BIOS from [ MAIN ] to [ MAIN ] successfully !\n");
  EXPECT_EQ(run.exit_status, 145);
  EXPECT_EQ(run.report.switch_requests, std::vector<uint8_t>{0});

  sim::Board board = support::PatternBoard();
  board.active = 1;
  sim::RunResult back = sim::RunOnBoard(board, {"/C", "1"});
  EXPECT_EQ(back.output, Banner() +
                             "Original BIOS position: BACKUP\n"
                             "Switch BIOS from [ BACKUP ] to [ MAIN ] successfully !\n");
  EXPECT_EQ(back.exit_status, 145);
  EXPECT_EQ(back.report.active_chip, 0);
}

TEST(ChangeCommand, FailedReadBackReportsAndSkipsTheCacheOverride) {
  for (sim::SwitchMode mode : {sim::SwitchMode::Stuck, sim::SwitchMode::IgnoreBackup}) {
    sim::Board board = support::PatternBoard();
    board.switch_mode = mode;
    sim::RunResult run = sim::RunOnBoard(board, {"/c", "2"});
    EXPECT_EQ(run.output, Banner() + "Original BIOS position: MAIN\nFail to Switch BIOS!\n");
    EXPECT_EQ(run.exit_status, 132);
    EXPECT_TRUE(run.report.msr_writes.empty());
    EXPECT_EQ(run.report.active_chip, 0);
  }
}

class RestorePosition : public ::testing::Test {
 protected:
  RestorePosition() : machine_(support::PatternBoard()) {}
  void SetUp() override {
    ResetToolState();
    gTool.StartupChip = ChipPosition::Main;
  }
  std::string Printed() { return machine_.console().substr(mark_); }
  void Mark() { mark_ = machine_.console().size(); }
  sim::Machine machine_;
  size_t mark_ = 0;
};

TEST_F(RestorePosition, VerboseWhenAlreadyThere) {
  Mark();
  EXPECT_EQ(RestoreBiosPosition(true), kEfiSuccess);
  EXPECT_EQ(Printed(), "\nCurrent BIOS position: MAIN\n");
  EXPECT_TRUE(machine_.report().switch_requests.empty());
}

TEST_F(RestorePosition, VerboseAfterAMove) {
  machine_.set_active_raw(1);
  Mark();
  EXPECT_EQ(RestoreBiosPosition(true), kEfiSuccess);
  EXPECT_EQ(Printed(), "Restore BIOS position ........... Ok\n\nCurrent BIOS position: MAIN\n");
  EXPECT_EQ(machine_.active_raw(), 0);
}

TEST_F(RestorePosition, VerboseNamesTheChipThatStayedWhenTheSwitchFails) {
  machine_.board().switch_mode = sim::SwitchMode::Stuck;
  machine_.set_active_raw(1);
  Mark();
  RestoreBiosPosition(true);
  EXPECT_EQ(Printed(), "Restore BIOS position ........... Ok\n\nCurrent BIOS position: BACKUP\n");
  EXPECT_EQ(gTool.ExitCode, ExitStatus::Success);
}

TEST_F(RestorePosition, SilentNeverPrints) {
  machine_.set_active_raw(1);
  Mark();
  EXPECT_EQ(RestoreBiosPosition(false), kEfiSuccess);
  EXPECT_EQ(Printed(), "");
  EXPECT_EQ(machine_.active_raw(), 0);
}

TEST_F(RestorePosition, WithoutARecordedStartupChipDoesNothing) {
  gTool.StartupChip = static_cast<ChipPosition>(0xFF);
  machine_.set_active_raw(1);
  Mark();
  EXPECT_EQ(RestoreBiosPosition(true), kEfiUnsupported);
  EXPECT_EQ(Printed(), "");
  EXPECT_TRUE(machine_.report().switch_requests.empty());
}

TEST(ChipSelect, ClientRoads) {
  sim::Board board = support::PatternBoard();
  board.chip_select = sim::ChipSelectMode::Absent;
  {
    sim::Machine machine(board);
    machine.set_active_raw(1);
    EXPECT_EQ(GetChipPosition(), ChipPosition::Main);
    EXPECT_EQ(SetChipPosition(ChipPosition::Backup), kEfiUnsupported);
    EXPECT_TRUE(machine.report().switch_requests.empty());
  }
  board.chip_select = sim::ChipSelectMode::Present;
  board.switch_mode = sim::SwitchMode::IgnoreBackup;
  {
    sim::Machine machine(board);
    EXPECT_EQ(SetChipPosition(ChipPosition::Backup), kEfiUnsupported);
    EXPECT_EQ(SetChipPosition(ChipPosition::Main), kEfiSuccess);
    EXPECT_EQ(machine.report().switch_requests, (std::vector<uint8_t>{1, 0}));
  }
  board.switch_mode = sim::SwitchMode::Ok;
  board.active = 9;
  {
    sim::Machine machine(board);
    EXPECT_EQ(RawChip(GetChipPosition()), 9);  // passed on unfiltered
    EXPECT_EQ(SetChipPosition(ChipPosition::Backup), kEfiSuccess);
    EXPECT_EQ(GetChipPosition(), ChipPosition::Backup);
  }
}

}  // namespace
