// SPDX-License-Identifier: BSD-2-Clause-Patent
// A switch back to the start-up chip that does not take effect, for every
// command that switches: the run says so and never ends in success.
#include <gtest/gtest.h>

#include "tests/support/identity_boards.h"
#include "tests/support/sim_support.h"

namespace {

const std::string kUnableMain = "!! Unable to switch to Main BIOS !!\n";
const std::string kUnableBackup = "!! Unable to switch to Backup BIOS !!\n";
const std::string kFail = "\nPellgard comparison test FAIL !!!\n";
const std::string kLastCheck = "BIOS part number check......... OK\n";
const std::string kCompared = "BIOS Data Compare.............. OK    \n";
const std::string kRestoreLines = "Restore BIOS position ........... Ok\n\nCurrent BIOS position: BACKUP\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

struct Case {
  sim::SwitchMode mode;
  int active;  // the start-up chip; the board ends on the other one
  std::vector<std::string> args;
  int fault;         // 0 none, 1 the chips differ, 2 every file write fails
  std::string tail;  // how the console ends
  int status;
  size_t failureLines;  // switch-failure lines in the whole console
};

TEST(FailedRestore, EveryRestoringCommandReportsIt) {
  using sim::SwitchMode;
  const std::vector<Case> cases = {
      // Faults caught: a PASS (128) while the board stays on Backup.
      {SwitchMode::IgnoreMain, 0, {}, 0, kCompared + kUnableMain + kFail, 132, 1},
      {SwitchMode::IgnoreMain, 0, {"/i"}, 0, kLastCheck + kUnableMain + kFail, 132, 1},
      // A run that already failed keeps the status that says why.
      {SwitchMode::IgnoreMain, 0, {}, 1, kUnableMain + kFail, 142, 1},
      // The switch to Backup fails and so does its restore: two lines.
      {SwitchMode::IgnoreBackup, 1, {}, 0, kUnableBackup + kUnableBackup + kFail, 132, 2},
      // Save: the line follows the position line that names the wrong chip.
      {SwitchMode::IgnoreMain, 0, {"/s", "2"}, 0, kRestoreLines + kUnableMain, 132, 1},
      {SwitchMode::IgnoreMain, 0, {"/s", "2"}, 2, kRestoreLines + kUnableMain, 130, 1},
      // The change command restores nothing and keeps its own report.
      {SwitchMode::IgnoreMain, 0, {"/c", "2"}, 0, "to [ BACKUP ] successfully !\n", 146, 0},
  };
  for (const Case& c : cases) {
    support::TempDir dir;
    sim::Board board = support::IdentityBoard();
    if (c.fault == 1) board.backup = support::IdentityChip({.filler_seed = 99});
    if (c.fault == 2) board.fail_file = sim::FileFailure::Write;
    board.switch_mode = c.mode;
    board.active = c.active;
    sim::RunResult run = sim::RunOnBoard(board, c.args, dir.str());
    SCOPED_TRACE(run.output);
    ASSERT_GE(run.output.size(), c.tail.size());
    EXPECT_EQ(run.output.substr(run.output.size() - c.tail.size()), c.tail);
    EXPECT_EQ(Count(run.output, "!! Unable to switch to"), c.failureLines);
    EXPECT_EQ(run.exit_status, c.status);
    EXPECT_EQ(run.report.active_chip, c.active ^ 1);
    EXPECT_EQ(run.report.pool_outstanding, 0u);
  }
}

}  // namespace
