// A switch back to the start-up chip that does not take effect, for every
// command that switches: the run says so and never ends in success.
#include <gtest/gtest.h>

#include "tests/support/identity_boards.h"
#include "tests/support/sim_support.h"

using support::IdentityBoard;
using support::TempDir;

namespace {

const std::string kUnableMain = "!! Unable to switch to Main BIOS !!\n";
const std::string kUnableBackup = "!! Unable to switch to Backup BIOS !!\n";
const std::string kFailVerdict = "\nPellgard comparison test FAIL !!!\n";
const std::string kPassVerdict = "\nPellgard comparison test PASS !!!\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

struct Case {
  const char* name;
  sim::SwitchMode mode;
  int active;
  std::vector<std::string> args;
  bool differentBackup;
  sim::FileFailure fileFailure;
  std::string expectedTail;  // how the console ends
  int status;
  size_t failureLines;  // switch-failure lines in the whole console
  int activeAfter;
};

TEST(FailedRestore, EveryRestoringCommandReportsIt) {
  const std::vector<Case> cases = {
      // Faults caught: a PASS (128) while the board stays on Backup.
      {"compare",
       sim::SwitchMode::IgnoreMain,
       0,
       {},
       false,
       sim::FileFailure::None,
       "BIOS Data Compare.............. OK    \n" + kUnableMain + kFailVerdict,
       132,
       1,
       1},
      {"simple test",
       sim::SwitchMode::IgnoreMain,
       0,
       {"/i"},
       false,
       sim::FileFailure::None,
       "BIOS part number check......... OK\n" + kUnableMain + kFailVerdict,
       132,
       1,
       1},
      // A run that already failed keeps the status that says why (142), and
      // still names the chip it could not return to.
      {"compare, mismatch",
       sim::SwitchMode::IgnoreMain,
       0,
       {},
       true,
       sim::FileFailure::None,
       kUnableMain + kFailVerdict,
       142,
       1,
       1},
      // The switch to Backup fails, and so does every restore of it: the
      // failed read and the failed return are two lines.
      {"compare from Backup",
       sim::SwitchMode::IgnoreBackup,
       1,
       {},
       false,
       sim::FileFailure::None,
       kUnableBackup + kUnableBackup + kFailVerdict,
       132,
       2,
       0},
      // Save: the line follows the position line that names the wrong chip.
      {"save Backup",
       sim::SwitchMode::IgnoreMain,
       0,
       {"/s", "2"},
       false,
       sim::FileFailure::None,
       "Restore BIOS position ........... Ok\n\nCurrent BIOS position: BACKUP\n" + kUnableMain,
       132,
       1,
       1},
      {"save Main from Backup",
       sim::SwitchMode::IgnoreBackup,
       1,
       {"/s", "1"},
       false,
       sim::FileFailure::None,
       "Current BIOS position: MAIN\n" + kUnableBackup,
       132,
       1,
       0},
      {"failed save",
       sim::SwitchMode::IgnoreMain,
       0,
       {"/s", "2"},
       false,
       sim::FileFailure::Write,
       "Current BIOS position: BACKUP\n" + kUnableMain,
       130,
       1,
       1},
      // Faults caught: a report added where nothing is restored, or a
      // working restore that changes the bytes.
      {"change keeps its report",
       sim::SwitchMode::IgnoreMain,
       0,
       {"/c", "2"},
       false,
       sim::FileFailure::None,
       "Switch BIOS from [ MAIN ] to [ BACKUP ] successfully !\n",
       146,
       0,
       1},
      {"working restore",
       sim::SwitchMode::IgnoreMain,
       1,
       {},
       false,
       sim::FileFailure::None,
       "!! Unable to switch to Main BIOS !!\n" + kFailVerdict,
       132,
       1,
       1},
      {"working restore, compare",
       sim::SwitchMode::Ok,
       0,
       {},
       false,
       sim::FileFailure::None,
       "BIOS Data Compare.............. OK    \n" + kPassVerdict,
       128,
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    sim::Board board = IdentityBoard();
    if (c.differentBackup) board.backup = support::IdentityChip({.filler_seed = 99});
    board.switch_mode = c.mode;
    board.active = c.active;
    board.fail_file = c.fileFailure;
    sim::RunResult run = sim::RunOnBoard(board, c.args, dir.str());
    ASSERT_GE(run.output.size(), c.expectedTail.size());
    EXPECT_EQ(run.output.substr(run.output.size() - c.expectedTail.size()), c.expectedTail);
    EXPECT_EQ(Count(run.output, "!! Unable to switch to"), c.failureLines);
    EXPECT_EQ(run.exit_status, c.status);
    EXPECT_EQ(run.report.active_chip, c.activeAfter);
    EXPECT_EQ(run.report.pool_outstanding, 0u);
  }
}

}  // namespace
