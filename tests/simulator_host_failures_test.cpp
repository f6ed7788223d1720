// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-sim on a workstation: hostile inputs and environments end with one
// line on standard error and status 2 (never a crash, a hang or one of the
// utility's statuses), and a refused run changes no file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "sim/vboard/vboard_file.h"
#include "tests/support/sim_support.h"
#include "tests/support/simulator_process.h"

using support::RunSimulator;
using support::SimOutcome;
using support::SimStdout;
using support::SnapshotTree;
using support::TempDir;

namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Status 2 and one line on standard error that names everything in `mentions`.
void ExpectSimulatorFailure(const SimOutcome& run, const std::vector<std::string>& mentions) {
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.err.rfind("pellrix-sim: ", 0), 0u) << run.err;
  for (const std::string& mention : mentions) EXPECT_NE(run.err.find(mention), std::string::npos) << run.err;
}

// The same before the utility ran: it printed nothing.
void ExpectRefusal(const SimOutcome& run, const std::vector<std::string>& mentions) {
  ExpectSimulatorFailure(run, mentions);
  EXPECT_EQ(run.out, "");
}

TEST(SimulatorHostFailures, HostileInputsAreRefusedBeforeTheRunAndChangeNothing) {
  TempDir scratch;
  const std::filesystem::path& at = scratch.path();
  auto path = [&](const char* name) { return (at / name).string(); };
  WriteText(at / "overflow.json", R"({"smi_port": 1e400})");
  std::filesystem::create_directory(at / "adir");
  ASSERT_EQ(mkfifo(path("chip.fifo").c_str(), 0600), 0);
  WriteText(at / "fifo.json", R"({"chips": {"main": {"image": "chip.fifo"}}})");
  {
    std::ofstream(at / "huge.rom").close();
    std::filesystem::resize_file(at / "huge.rom", 0x100000000ull);  // sparse: no disk, no memory
  }
  WriteText(at / "huge.json", R"({"chips": {"backup": {"image": "huge.rom"}}})");
  // "a" exists: a path cut at the NUL would load it.
  WriteText(at / "a", std::string(0x10000, '\xFF'));
  WriteText(at / "nul.json", R"({"chips": {"main": {"image": "a\u0000b"}}})");
  WriteText(at / "plain.txt", "not a directory");

  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> mentions;
  };
  const std::string dir = scratch.str();
  // Each would save MAIN.BIN into the scratch directory if the utility ran.
  const Case cases[] = {
      {{"--board", path("overflow.json"), "--dir", dir}, {"overflow.json", "1e400"}},
      {{"--board", path("adir"), "--dir", dir}, {"adir", "directory"}},
      {{"--main", path("chip.fifo"), "--dir", dir}, {"--main", "chip.fifo", "not a regular file"}},
      {{"--board", path("fifo.json"), "--dir", dir}, {"fifo.json", "'chips.main.image'", "not a regular file"}},
      {{"--backup", path("adir"), "--dir", dir}, {"--backup", "adir", "not a regular file"}},
      {{"--main", path("huge.rom"), "--dir", dir}, {"--main", "huge.rom", "4294967296"}},
      {{"--board", path("huge.json"), "--dir", dir}, {"'chips.backup.image'", "huge.rom", "4294967296"}},
      {{"--board", path("nul.json"), "--dir", dir}, {"nul.json", "'chips.main.image'", "NUL"}},
      {{"--dir", path("missing")}, {"--dir", "missing"}},
      {{"--dir", path("plain.txt")}, {"--dir", "plain.txt"}},
      {{"--dir", dir, "--report", path("missing/report.json")}, {"--report", "missing/report.json"}},
      {{"--dir", dir, "--report", path("adir")}, {"--report", "adir"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[1]);
    auto before = SnapshotTree(at);
    std::vector<std::string> words = c.words;
    for (const char* word : {"--", "/s", "1"}) words.push_back(word);
    ExpectRefusal(RunSimulator(words), c.mentions);
    EXPECT_EQ(SnapshotTree(at), before);
  }
}

TEST(SimulatorHostFailures, BoardFileMayComeFromAPipe) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string board = R"({"active": "0x1"})";
  ASSERT_EQ(write(ends[1], board.data(), board.size()), static_cast<ssize_t>(board.size()));
  close(ends[1]);
  SimOutcome run =
      RunSimulator({"--board", "/dev/fd/" + std::to_string(ends[0]), "--", "/p"}, SimStdout::Captured, ends[0]);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, support::Banner() + "Current BIOS position: BACKUP\n");
  EXPECT_EQ(run.status, 146);
}

TEST(SimulatorHostFailures, UndeliveredStandardOutputEndsWithStatus2) {
  struct Case {
    SimStdout stdoutTo;
    std::vector<std::string> words;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {SimStdout::BrokenPipe, {"/p"}, {"standard output", "Broken pipe"}},
      {SimStdout::BrokenPipe, {}, {"standard output"}},  // the comparison prints on after the failure
      {SimStdout::FullDevice, {"/p"}, {"standard output", "No space left"}},
      {SimStdout::Closed, {"/p"}, {"standard output", "closed"}},
      {SimStdout::FullDevice, {"--help"}, {"standard output"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.stdoutTo));
    ExpectSimulatorFailure(RunSimulator(c.words, c.stdoutTo), c.mentions);
  }
}

TEST(SimulatorHostFailures, WrittenFilesThatCannotBeCompletedEndWithStatus2) {
  TempDir scratch;
  // A report that is not a regular file is refused before the run.
  ExpectRefusal(RunSimulator({"--report", "/dev/full", "--", "/p"}), {"--report", "/dev/full", "not a regular file"});

  struct Case {
    const char* option;
    const char* file;
  };
  const Case cases[] = {{"--write-sample", "board.json"},           {"--write-sample", "main.rom"},
                        {"--write-sample", "backup.rom"},           {"--write-vboard", vboard::kBoardFileName},
                        {"--write-vboard", vboard::kMainImageName}, {"--write-vboard", vboard::kBackupImageName}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.file);
    std::filesystem::path directory = scratch.path() / (std::string(c.option).substr(2) + "-" + c.file);
    std::filesystem::create_directory(directory);
    std::filesystem::create_symlink("/dev/full", directory / c.file);
    ExpectRefusal(RunSimulator({c.option, directory.string(), "--"}), {c.file, "No space left"});
  }
}

// What-if boards: erased chips of every 32-bit geometry, near 4 GiB, with
// BIOS regions larger than the part. They run, and an erased part costs no
// memory whatever its size.
TEST(SimulatorHostFailures, ErasedChipsOfAnyGeometryRunInLittleMemory) {
  TempDir scratch;
  constexpr long kCeilingKib = 256 << 10;  // far below one 4 GiB part
  for (const char* block : {"1", "3", "\"0x40000000\""}) {
    std::filesystem::path board = scratch.path() / "what-if.json";
    WriteText(board, std::string(R"({"chips": {
        "main": {"flash_size": "0xFFFFFFFF", "bios_size": "0xFFFFFFFF", "block_size": )") +
                         block + R"(},
        "backup": {"flash_size": "0xFFFFF000", "bios_size": "0x800000", "block_size": )" +
                         block + "}}}");
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"/p"}, std::vector<std::string>{}, std::vector<std::string>{"/s", "2"}}) {
      std::vector<std::string> words = {"--board", board.string(), "--dir", scratch.str(), "--"};
      words.insert(words.end(), command.begin(), command.end());
      SimOutcome run = RunSimulator(words);
      SCOPED_TRACE(std::string("block ") + block + (command.empty() ? "" : " " + command[0]));
      EXPECT_GE(run.status, 128);
      EXPECT_LE(run.status, 146);
      EXPECT_EQ(run.err, "");
      EXPECT_LT(run.max_rss_kib, kCeilingKib);
    }
  }
}

}  // namespace

namespace {

// An engineer replays a dump from the directory it was saved to and saves the
// same chip again: the image being read is the file being replaced.
TEST(SimulatorHostFailures, SavingOntoTheReplayedImageReplacesItWhole) {
  TempDir dir;
  ASSERT_EQ(RunSimulator({"--write-sample", dir.str() + "/board"}).status, 0);
  std::filesystem::copy_file(dir.path() / "board" / "main.rom", dir.path() / "MAIN.BIN");
  std::vector<uint8_t> chip = support::ReadFileBytes(dir.path() / "MAIN.BIN");
  SimOutcome run = RunSimulator({"--main", dir.str() + "/MAIN.BIN", "--dir", dir.str(), "--", "/s", "1"});
  EXPECT_EQ(run.status, 128) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("BIOS successfully saved ......... MAIN.BIN\n"), std::string::npos);
  EXPECT_EQ(support::ReadFileBytes(dir.path() / "MAIN.BIN"), chip);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "MAIN.BIN.NEW"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "MAIN.BIN.OLD"));
}

// No run writes over what it reads, follows a link it finds in --dir, or
// waits on a FIFO: each such output is refused before the utility runs, and
// every file is as it was.
TEST(SimulatorHostFailures, ARunNeverWritesOverItsInputs) {
  TempDir scratch;
  const std::filesystem::path& at = scratch.path();
  auto path = [&](const std::string& name) { return (at / name).string(); };
  std::filesystem::create_directory(at / "board");
  std::filesystem::create_directory(at / "work");
  std::filesystem::create_directory(at / "linked");
  ASSERT_EQ(RunSimulator({"--write-sample", path("board")}).status, 0);
  std::filesystem::copy_file(at / "board/main.rom", at / "work/MAIN.BIN.NEW");
  std::filesystem::copy_file(at / "board/main.rom", at / "work/MAIN.BIN");
  WriteText(at / "target.txt", "not to be written through");
  std::filesystem::create_symlink(at / "target.txt", at / "linked/BACKUP.BIN.OLD");
  ASSERT_EQ(mkfifo(path("report.fifo").c_str(), 0600), 0);
  const std::string board = path("board/board.json");

  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {{"--main", path("work/MAIN.BIN.NEW"), "--dir", path("work")}, {"MAIN.BIN.NEW", "input"}},
      {{"--board", board, "--dir", path("work"), "--report", path("board/main.rom")}, {"--report", "main.rom"}},
      {{"--board", board, "--dir", path("work"), "--report", board}, {"--report", "board.json"}},
      {{"--main", path("board/main.rom"), "--dir", path("work"), "--report", path("board/main.rom")},
       {"--report", "main.rom", "input"}},
      {{"--board", board, "--dir", path("work"), "--report", path("work/MAIN.BIN")}, {"--report", "MAIN.BIN"}},
      {{"--board", board, "--dir", path("board"), "--report", path("board/BACKUP.BIN.NEW")},
       {"--report", "BACKUP.BIN.NEW"}},
      {{"--board", board, "--dir", path("work"), "--report", path("report.fifo")},
       {"--report", "report.fifo", "not a regular file"}},
      {{"--board", board, "--dir", path("linked")}, {"BACKUP.BIN.OLD", "not a regular file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.back());
    auto before = SnapshotTree(at);
    std::vector<std::string> words = c.words;
    for (const char* word : {"--", "/s", "1"}) words.push_back(word);
    ExpectRefusal(RunSimulator(words), c.mentions);
    EXPECT_EQ(SnapshotTree(at), before);
  }

  // MAIN.BIN itself may be the replayed image: the chip is read before the
  // file is replaced.
  SimOutcome replay = RunSimulator({"--main", path("work/MAIN.BIN"), "--dir", path("board"), "--", "/s", "1"});
  EXPECT_EQ(replay.status, 128) << replay.err;
}

TEST(SimulatorHostFailures, BoardFilesNestedTooDeeplyAreRefused) {
  TempDir scratch;
  const int depth = 100000;
  WriteText(scratch.path() / "deep.json",
            R"({"smi_port": 178, "chips": )" + std::string(depth, '[') + std::string(depth, ']') + "}");
  // Brackets inside strings are text, not nesting.
  WriteText(scratch.path() / "brackets.json",
            R"({"chips": {"main": {"part_name": ")" + std::string(100, '[') + R"("}}})");
  ExpectRefusal(RunSimulator({"--board", (scratch.path() / "deep.json").string(), "--", "/p"}),
                {"deep.json", "'chips'", "nested deeper"});
  ExpectRefusal(RunSimulator({"--board", (scratch.path() / "brackets.json").string(), "--", "/p"}),
                {"brackets.json", "part_name", "48"});
}

// In the run itself, a link under a name the save replaces is replaced, not
// written through (the simulator refuses such a directory before a run; this
// is the file layer's own guard).
TEST(SimulatorHostFailures, TheSaveNeverWritesThroughALink) {
  TempDir scratch;
  std::filesystem::create_directory(scratch.path() / "work");
  WriteText(scratch.path() / "target.txt", "kept");
  std::filesystem::create_symlink(scratch.path() / "target.txt", scratch.path() / "work/MAIN.BIN.NEW");
  sim::RunResult run = sim::RunOnBoard(support::PatternBoard(), {"/s", "1"}, (scratch.path() / "work").string());
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(support::ReadFileBytes(scratch.path() / "target.txt"), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "work/MAIN.BIN.NEW"));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(scratch.path() / "work/MAIN.BIN")));
}

// A folder named MAIN.BIN reaches the utility, which refuses to save over it.
TEST(SimulatorHostFailures, AFolderNamedLikeTheDumpReachesTheUtility) {
  TempDir scratch;
  std::filesystem::create_directory(scratch.path() / "MAIN.BIN");
  SimOutcome run = RunSimulator({"--dir", scratch.str(), "--", "/s", "1"});
  EXPECT_EQ(run.status, 130);
  EXPECT_NE(run.out.find("!!! Fail to save BIOS !!!"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "MAIN.BIN"));
}

}  // namespace
