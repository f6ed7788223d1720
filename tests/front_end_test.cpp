// SPDX-License-Identifier: BSD-2-Clause-Patent
// Entry, start-up failures and the exit path, driven through whole runs.
#include <gtest/gtest.h>

#include "runtime/efi_globals.h"
#include "runtime/shell_program.h"
#include "sim/image_builder.h"
#include "sim/machine_impl.h"
#include "tests/support/sim_support.h"

using support::Banner;
using support::UsageText;

namespace {

const std::string kNotSupported = "\n!! This BIOS does not support Pellgard !!\n";
const std::string kInitFail = "\n!!! SPI Flash initialization fail !!!\n\n";

TEST(FrontEnd, HelpPrintsBannerAndUsage) {
  for (const char* option : {"/?", "/h", "/H"}) {
    sim::RunResult run = sim::RunOnBoard(support::PatternBoard(), {option});
    EXPECT_EQ(run.output, Banner() + UsageText()) << option;
    EXPECT_EQ(run.exit_status, 128);
    EXPECT_TRUE(run.report.cursor_visible);
    EXPECT_EQ(run.report.pool_outstanding, 0u);
    EXPECT_TRUE(run.report.switch_requests.empty());
  }
}

TEST(FrontEnd, TheWatchdogIsTurnedOffOnceOnEveryRoad) {
  sim::Board absent = support::PatternBoard();
  absent.chip_select = sim::ChipSelectMode::Absent;
  for (const auto& [board, arguments] : std::vector<std::pair<sim::Board, std::vector<std::string>>>{
           {support::PatternBoard(), {"/x"}}, {absent, {}}, {support::PatternBoard(), {"/p"}}}) {
    sim::RunResult run = sim::RunOnBoard(board, arguments);
    EXPECT_EQ(run.report.watchdog_timeouts, std::vector<uint64_t>{0});
  }
}

TEST(FrontEnd, CursorIsHiddenForTheRunAndShownOnEveryRoad) {
  sim::Board absent = support::PatternBoard();
  absent.chip_select = sim::ChipSelectMode::Absent;
  sim::Board noMailbox = support::PatternBoard();
  noMailbox.mailbox = sim::MailboxMode::None;
  for (const auto& [board, arguments] : std::vector<std::pair<sim::Board, std::vector<std::string>>>{
           {support::PatternBoard(), {"/p"}}, {support::PatternBoard(), {"/bad"}}, {absent, {}}, {noMailbox, {}}}) {
    sim::RunResult run = sim::RunOnBoard(board, arguments);
    EXPECT_EQ(run.report.cursor_calls, (std::vector<bool>{false, true}));
  }
}

TEST(FrontEnd, InvalidCommandTouchesNoFirmware) {
  sim::RunResult run = sim::RunOnBoard(support::PatternBoard(), {"/x"});
  EXPECT_EQ(run.output, Banner() + "Invalid command!\n\n" + UsageText());
  EXPECT_EQ(run.exit_status, 131);
  EXPECT_EQ(run.report.locate_chip_select_calls, 0u);
  EXPECT_EQ(run.report.pool_allocations, 0u);
  EXPECT_EQ(run.report.smi.query, 0u);
  EXPECT_TRUE(run.report.cursor_visible);
}

TEST(FrontEnd, MissingChipSelectProtocolEndsStartUp) {
  sim::Board board = support::PatternBoard();
  board.chip_select = sim::ChipSelectMode::Absent;
  for (std::vector<std::string> arguments : {std::vector<std::string>{"/?"}, std::vector<std::string>{}}) {
    sim::RunResult run = sim::RunOnBoard(board, arguments);
    EXPECT_EQ(run.output, Banner() + kNotSupported + kInitFail);
    EXPECT_EQ(run.exit_status, 130);
    EXPECT_EQ(run.report.is_supported_calls, 0u);
    EXPECT_EQ(run.report.pool_allocations, 0u);
    EXPECT_TRUE(run.report.cursor_visible);
  }
}

TEST(FrontEnd, SupportAnswerDecides) {
  sim::Board board = support::PatternBoard();
  board.chip_select = sim::ChipSelectMode::Unsupported;
  sim::RunResult refused = sim::RunOnBoard(board, {"/?"});
  EXPECT_EQ(refused.output, Banner() + kNotSupported + kInitFail);
  EXPECT_EQ(refused.exit_status, 130);
  EXPECT_EQ(refused.report.is_supported_calls, 1u);

  // Any non-zero answer counts as supported.
  board.chip_select = sim::ChipSelectMode::Present;
  board.is_supported_value = 2;
  sim::RunResult accepted = sim::RunOnBoard(board, {"/?"});
  EXPECT_EQ(accepted.output, Banner() + UsageText());
  EXPECT_EQ(accepted.exit_status, 128);
}

TEST(FrontEnd, StartupRecordAllocationFailure) {
  sim::Board board = support::PatternBoard();
  board.fail_alloc = {1};
  sim::RunResult run = sim::RunOnBoard(board, {"/p"});
  EXPECT_EQ(run.output, Banner() + "Memory allocation error!\n" + kInitFail);
  EXPECT_EQ(run.exit_status, 133);
  EXPECT_EQ(run.report.smi.query, 0u);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

TEST(FrontEnd, FailedMailboxQueryPrintsTheLineTwiceAndReleasesTheRecord) {
  for (sim::MailboxMode mode : {sim::MailboxMode::None}) {
    sim::Board board = support::PatternBoard();
    board.mailbox = mode;
    sim::RunResult run = sim::RunOnBoard(board, {"/p"});
    EXPECT_EQ(run.output, Banner() + kInitFail + kInitFail);
    EXPECT_EQ(run.exit_status, 134);
    EXPECT_EQ(run.report.smi.query, 1u);
    EXPECT_EQ(run.report.pool_outstanding, 0u);
    EXPECT_TRUE(run.report.cursor_visible);
  }
  // The query's own buffer failing is a failed query too.
  sim::Board board = support::PatternBoard();
  board.fail_alloc = {2};
  sim::RunResult run = sim::RunOnBoard(board, {"/?"});
  EXPECT_EQ(run.output, Banner() + kInitFail + kInitFail);
  EXPECT_EQ(run.exit_status, 134);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

TEST(FrontEnd, StartUpRecordsChipAndFlashBase) {
  sim::Board board = support::PatternBoard(0x1000000, 0x800000);
  board.active = 1;
  sim::Machine machine(board);
  sim::RunResult run = sim::RunTool(machine, {"/?"});
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(gTool.StartupChip, ChipPosition::Backup);
  EXPECT_EQ(gTool.LastReadChip, ChipPosition::Backup);
  EXPECT_EQ(gTool.FlashBaseAddress, 0xFF000000u);
  EXPECT_EQ(gTool.Geometry.FlashSize, 0x1000000u);
  EXPECT_EQ(gTool.StartupRecord, nullptr);
}

TEST(FrontEnd, ZeroFlashSizeGivesZeroBase) {
  sim::Board board = support::PatternBoard();
  board.main.flash_size = 0;
  sim::Machine machine(board);
  sim::RunTool(machine, {"/?"});
  EXPECT_EQ(gTool.FlashBaseAddress, 0u);
}

}  // namespace

namespace {

int programCalls = 0;

int CountingProgram(int, char**) {
  ++programCalls;
  return 128;
}

}  // namespace

// An EFI Shell 1.x hands the image no argument list: the entry says so and
// returns 130 for %lasterror% without running the program.
TEST(FrontEnd, AShellWithoutArgumentsIsRefusedWith130) {
  sim::Machine machine(support::PatternBoard());
  programCalls = 0;
  EFI_STATUS status = RunShellProgram(&machine, gST, CountingProgram);
  EXPECT_EQ(status, 130u);
  EXPECT_EQ(programCalls, 0);
  EXPECT_EQ(machine.console(), "This utility requires UEFI Shell 2.0 or later.\r\n");
  EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
}
