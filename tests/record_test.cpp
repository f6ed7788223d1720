// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-record on the simulated board: what it records replays as the board
// it ran on (same console text, status, active chip, MSR writes and saved
// files for every command), it leaves the start-up chip active, and a record
// that cannot be written completely leaves nothing half-written behind.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>
#include <nlohmann/json.hpp>

#include "record/recorder.h"
#include "sim/board_file.h"
#include "tests/support/sim_support.h"

using support::PatternBoard;
using support::ReadFileBytes;
using support::TempDir;

namespace {

namespace fs = std::filesystem;

struct RecordRun {
  int status = 0;
  std::string console;
  sim::Report report;
  uint8_t activeAfter = 0;
  uint64_t poolOutstanding = 0;
};

RecordRun Record(const sim::Board& board, const fs::path& directory) {
  sim::Machine machine(board, directory.string());
  ResetToolState();
  char name[] = "pellrix-record";
  char* argv[] = {name, nullptr};
  RecordRun run;
  run.status = RecordBoardMain(1, argv);
  run.console = machine.console();
  run.report = machine.report();
  run.activeAfter = machine.active_raw();
  run.poolOutstanding = machine.impl().pool.live_blocks() + machine.impl().pages.live_blocks();
  return run;
}

sim::Board LoadRecord(const fs::path& directory) {
  sim::Board board;
  sim::BoardError error;
  EXPECT_TRUE(sim::LoadBoardFile((directory / "PELLRIX.REC" / "board.json").string(), &board, &error)) << error.message;
  return board;
}

nlohmann::json RecordJson(const fs::path& directory) {
  std::ifstream in(directory / "PELLRIX.REC" / "board.json");
  return nlohmann::json::parse(in);
}

std::vector<uint8_t> WholePart(const sim::Chip& chip) {
  std::vector<uint8_t> part(chip.flash_size, 0xFF);
  std::copy_n(chip.data(), std::min<uint64_t>(chip.size(), chip.flash_size), part.begin());
  return part;
}

std::vector<std::string> Listing(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(directory))
    names.push_back(fs::relative(entry.path(), directory).string());
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::vector<std::string>> kCommands = {{},          {"/i"},      {"/p"},      {"/c", "2"},
                                                         {"/c", "1"}, {"/s", "1"}, {"/s", "2"}, {"/delay", "3"}};

// Every command, from the board's start, on the original and on the replay.
void ExpectSameRuns(const sim::Board& original, const sim::Board& replay) {
  for (const auto& command : kCommands) {
    std::string shown = command.empty() ? "(none)" : command[0];
    TempDir originalDir;
    TempDir replayDir;
    sim::RunResult expected = sim::RunOnBoard(original, command, originalDir.str());
    sim::RunResult actual = sim::RunOnBoard(replay, command, replayDir.str());
    EXPECT_EQ(actual.output, expected.output) << shown;
    EXPECT_EQ(actual.exit_status, expected.exit_status) << shown;
    EXPECT_EQ(actual.report.active_chip, expected.report.active_chip) << shown;
    EXPECT_EQ(actual.report.switch_requests, expected.report.switch_requests) << shown;
    EXPECT_EQ(actual.report.msr_writes, expected.report.msr_writes) << shown;
    ASSERT_EQ(actual.report.files, expected.report.files) << shown;
    for (const std::string& file : expected.report.files)
      EXPECT_EQ(ReadFileBytes(replayDir.path() / file), ReadFileBytes(originalDir.path() / file)) << shown << file;
  }
}

sim::Board DistinctChips() {
  sim::Board board = PatternBoard();
  board.backup = support::PatternChip(0x40000, 0x20000, 0x2000, 7);
  board.main.part_name = "MAIN \"PART\"\\1";
  board.backup.part_name = "BACKUP25Q256";
  board.smi_port = 0x1234;
  board.pci = {{0x1022, 6, 0}, {0x8086, 1, 1}, {0x8086, 6, 0}};
  board.pci[1].class_read_fails = true;
  board.mtrr_pairs[3] = {0x80000000ull, 0x7F80000800ull};
  return board;
}

TEST(Recorder, ReplaysTheBoardItRanOn) {
  struct Case {
    std::string name;
    sim::Board board;
  };
  std::vector<Case> cases = {{"distinct chips", DistinctChips()}};
  cases.push_back({"backup active", DistinctChips()});
  cases.back().board.active = 1;
  cases.push_back({"no chip select", DistinctChips()});
  cases.back().board.chip_select = sim::ChipSelectMode::Absent;
  cases.push_back({"unsupported", DistinctChips()});
  cases.back().board.is_supported_value = 0;
  cases.push_back({"qv1 mailbox, encrypted memory", DistinctChips()});
  cases.back().board.mailbox = sim::MailboxMode::Qv1;
  cases.back().board.tme_keyid_bits = 4;
  cases.push_back({"no MTRR pairs in use", DistinctChips()});
  cases.back().board.mtrr_pairs.clear();
  cases.push_back({"no ACPI", DistinctChips()});
  cases.back().board.acpi = sim::AcpiMode::Absent;
  cases.push_back({"sample board", sim::SampleBoard()});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    RecordRun run = Record(c.board, dir.path());
    EXPECT_EQ(run.status, 128) << run.console;
    EXPECT_EQ(run.activeAfter, c.board.active);
    EXPECT_EQ(run.poolOutstanding, 0u);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"PELLRIX.REC", "PELLRIX.REC/backup.rom",
                                                             "PELLRIX.REC/board.json", "PELLRIX.REC/main.rom"}));
    ExpectSameRuns(c.board, LoadRecord(dir.path()));
  }
}

TEST(Recorder, RecordsWhatItObserves) {
  sim::Board board = DistinctChips();
  TempDir dir;
  RecordRun run = Record(board, dir.path());
  ASSERT_EQ(run.status, 128) << run.console;
  nlohmann::json json = RecordJson(dir.path());
  EXPECT_EQ(json["switch"], "ok");
  EXPECT_EQ(json["smi_port"], 0x1234);
  EXPECT_EQ(json["pci"][0]["vendor"], "0x1022");
  EXPECT_EQ(json["pci"][1]["class_read_fails"], true);
  // The pairs as they were before the cache override took pair 9.
  EXPECT_EQ(json["mtrr"]["pairs"], nlohmann::json::parse(R"({"0": {"base": "0xFF000005", "mask": "0x7FFF000800"},
                                                           "3": {"base": "0x80000000", "mask": "0x7F80000800"}})"));
  EXPECT_FALSE(run.report.msr_writes.empty()) << "the override was applied after the MTRRs were recorded";
  EXPECT_EQ(json["chips"]["main"]["part_name"], "MAIN \"PART\"\\1");
  EXPECT_EQ(json["chips"]["backup"]["block_size"], 0x2000);
  EXPECT_EQ(ReadFileBytes(dir.path() / "PELLRIX.REC/main.rom"), WholePart(board.main));
  EXPECT_EQ(ReadFileBytes(dir.path() / "PELLRIX.REC/backup.rom"), WholePart(board.backup));
  EXPECT_EQ(run.report.switch_requests, (std::vector<uint8_t>{1, 0}));

  board.mtrr_pairs.clear();
  TempDir empty;
  ASSERT_EQ(Record(board, empty.path()).status, 128);
  EXPECT_EQ(RecordJson(empty.path())["mtrr"]["pairs"], nlohmann::json::object());
}

TEST(Recorder, NamesTheSwitchBehaviour) {
  struct Case {
    sim::SwitchMode mode;
    uint8_t active;
    std::string recorded;
    int status;
  };
  // A board that never leaves its start-up chip behaves as stuck from there,
  // whichever direction it ignores, and the chip it could not reach is not
  // recorded (a failure); one that leaves it but cannot return names the
  // direction, and the run reports that it could not restore.
  for (const Case& c : std::vector<Case>{{sim::SwitchMode::Stuck, 0, "stuck", 130},
                                         {sim::SwitchMode::IgnoreBackup, 0, "stuck", 130},
                                         {sim::SwitchMode::IgnoreMain, 1, "stuck", 130},
                                         {sim::SwitchMode::IgnoreMain, 0, "ignore-main", 130},
                                         {sim::SwitchMode::IgnoreBackup, 1, "ignore-backup", 130}}) {
    sim::Board board = DistinctChips();
    board.switch_mode = c.mode;
    board.active = c.active;
    TempDir dir;
    RecordRun run = Record(board, dir.path());
    SCOPED_TRACE(c.recorded + " from " + std::to_string(c.active));
    EXPECT_EQ(run.status, c.status) << run.console;
    EXPECT_EQ(RecordJson(dir.path())["switch"], c.recorded);
    if (c.recorded == "stuck") {
      // Fault caught: the chip the switch never reached recorded as a copy of
      // the one that answered, and the run called a success.
      const std::string startup = c.active == 1 ? "backup" : "main";
      const std::string other = c.active == 1 ? "main" : "backup";
      EXPECT_EQ(ReadFileBytes(dir.path() / ("PELLRIX.REC/" + startup + ".rom")),
                WholePart(c.active == 1 ? board.backup : board.main));
      EXPECT_FALSE(fs::exists(dir.path() / ("PELLRIX.REC/" + other + ".rom")));
      nlohmann::json chip = RecordJson(dir.path())["chips"][other];
      EXPECT_FALSE(chip.contains("image"));
      EXPECT_EQ(chip["unread"], "the switch to this chip did not take effect");
      std::string name = other == "main" ? "Main" : "Backup";
      EXPECT_NE(run.console.find("!!! Board recorded without " + name + " BIOS"), std::string::npos) << run.console;
      EXPECT_EQ(run.activeAfter, c.active);
    } else {
      EXPECT_NE(run.console.find("could not be restored"), std::string::npos);
    }
    ExpectSameRuns(board, LoadRecord(dir.path()));
  }
}

// Fault caught: a start-up position that names neither chip (2, 0x80) taken
// as a board without a switch, the answering chip's image written as both
// chips and the run called a success. Each chip is recorded only once the
// switch selected it; the start-up position is requested again.
TEST(Recorder, StartupPositionOfNeitherChip) {
  struct Case {
    sim::SwitchMode mode;
    std::string recorded;
    bool mainRead;
    bool backupRead;
  };
  for (uint8_t startup : {2, 0x80}) {
    for (const Case& c : std::vector<Case>{{sim::SwitchMode::Ok, "ok", true, true},
                                           {sim::SwitchMode::Stuck, "stuck", false, false},
                                           {sim::SwitchMode::IgnoreMain, "ignore-main", false, true},
                                           {sim::SwitchMode::IgnoreBackup, "ignore-backup", true, false}}) {
      sim::Board board = DistinctChips();
      board.switch_mode = c.mode;
      board.active = startup;
      TempDir dir;
      RecordRun run = Record(board, dir.path());
      SCOPED_TRACE(c.recorded + " from " + std::to_string(startup));
      bool whole = c.mainRead && c.backupRead;
      EXPECT_EQ(run.status, whole ? 128 : 130) << run.console;
      EXPECT_EQ(run.activeAfter, startup);
      nlohmann::json json = RecordJson(dir.path());
      EXPECT_EQ(json["active"], startup);
      EXPECT_EQ(json["switch"], c.recorded);
      for (const auto& [key, read, chip] :
           {std::tuple{"main", c.mainRead, &board.main}, std::tuple{"backup", c.backupRead, &board.backup}}) {
        fs::path rom = dir.path() / "PELLRIX.REC" / (std::string(key) + ".rom");
        EXPECT_EQ(json["chips"][key].contains("unread"), !read) << key;
        if (read) {
          EXPECT_EQ(json["chips"][key]["flash_size"], chip->flash_size) << key;
          EXPECT_EQ(ReadFileBytes(rom), WholePart(*chip)) << key;
        } else {
          EXPECT_FALSE(fs::exists(rom)) << key;
        }
      }
      if (whole) ExpectSameRuns(board, LoadRecord(dir.path()));
    }
  }
}

TEST(Recorder, WithoutAChipSelectSendsNoFlashSmi) {
  // The flash SMI number may belong to another handler on such firmware: only
  // the window from 0xFF000000 is recorded, as one chip for both.
  for (sim::ChipSelectMode mode : {sim::ChipSelectMode::Absent, sim::ChipSelectMode::Unsupported}) {
    sim::Board board = DistinctChips();
    board.chip_select = mode;
    board.active = 1;  // Backup answers the window
    TempDir dir;
    RecordRun run = Record(board, dir.path());
    ASSERT_EQ(run.status, 128) << run.console;
    EXPECT_EQ(run.report.smi.query + run.report.smi.read_block + run.report.smi.begin_read + run.report.smi.end_read,
              0u);
    EXPECT_NE(run.console.find("Flash mailbox ................... not probed without a chip select"),
              std::string::npos);
    nlohmann::json json = RecordJson(dir.path());
    EXPECT_EQ(json["mailbox"], "none");
    EXPECT_TRUE(run.report.switch_requests.empty());
    std::vector<uint8_t> part = WholePart(board.backup);
    std::vector<uint8_t> expected(0x1000000 - board.backup.bios_size, 0xFF);
    expected.insert(expected.end(), part.end() - board.backup.bios_size, part.end());
    EXPECT_EQ(ReadFileBytes(dir.path() / "PELLRIX.REC/main.rom"), expected);
    EXPECT_EQ(ReadFileBytes(dir.path() / "PELLRIX.REC/backup.rom"), expected);
  }
}

TEST(Recorder, WithoutMailboxOnlyTheDecodedWindow) {
  sim::Board board = sim::SampleBoard();
  board.mailbox = sim::MailboxMode::None;
  TempDir dir;
  RecordRun run = Record(board, dir.path());
  ASSERT_EQ(run.status, 128) << run.console;
  nlohmann::json json = RecordJson(dir.path());
  EXPECT_EQ(json["mailbox"], "none");
  EXPECT_EQ(json["chips"]["main"]["flash_size"], 0x1000000);
  EXPECT_FALSE(json["chips"]["main"].contains("part_name"));
  EXPECT_EQ(run.report.smi.read_block, 0u);
  EXPECT_EQ(run.report.mmio_reads, 0u);
  // The sample part is 16 MiB with an 8 MiB BIOS region: the window shows the
  // region and erased bytes below it.
  std::vector<uint8_t> expected(0x800000, 0xFF);
  std::vector<uint8_t> part = WholePart(board.main);
  expected.insert(expected.end(), part.end() - 0x800000, part.end());
  EXPECT_EQ(ReadFileBytes(dir.path() / "PELLRIX.REC/main.rom"), expected);
  ExpectSameRuns(board, LoadRecord(dir.path()));
}

TEST(Recorder, FailedWritesLeaveNoHalfRecord) {
  sim::Board board = DistinctChips();
  std::vector<std::pair<std::string, std::function<void(sim::Board&)>>> failures = {
      {"disk full", [](sim::Board& b) { b.disk_free = 0x30000; }},
      {"write", [](sim::Board& b) { b.fail_file = sim::FileFailure::Write; }},
      {"close", [](sim::Board& b) { b.fail_file = sim::FileFailure::Close; }},
      {"rename", [](sim::Board& b) { b.fail_file = sim::FileFailure::Rename; }},
      {"rename into place", [](sim::Board& b) { b.fail_file = sim::FileFailure::RenameIntoPlace; }},
      {"open", [](sim::Board& b) { b.fail_file = sim::FileFailure::Open; }},
  };
  for (const auto& [name, breakBoard] : failures) {
    SCOPED_TRACE(name);
    sim::Board broken = board;
    breakBoard(broken);
    // No earlier record: nothing at all is left.
    TempDir fresh;
    RecordRun run = Record(broken, fresh.path());
    EXPECT_EQ(run.status, 130);
    EXPECT_NE(run.console.find("!!! Fail to record the board !!!\n"), std::string::npos);
    EXPECT_TRUE(Listing(fresh.path()).empty());
    EXPECT_EQ(run.activeAfter, broken.active);
    // An earlier record stays byte for byte as it was.
    TempDir earlier;
    sim::Board other = PatternBoard();
    ASSERT_EQ(Record(other, earlier.path()).status, 128);
    std::vector<std::string> before = Listing(earlier.path());
    auto json = ReadFileBytes(earlier.path() / "PELLRIX.REC/board.json");
    auto main = ReadFileBytes(earlier.path() / "PELLRIX.REC/main.rom");
    EXPECT_EQ(Record(broken, earlier.path()).status, 130);
    EXPECT_EQ(Listing(earlier.path()), before);
    EXPECT_EQ(ReadFileBytes(earlier.path() / "PELLRIX.REC/board.json"), json);
    EXPECT_EQ(ReadFileBytes(earlier.path() / "PELLRIX.REC/main.rom"), main);
  }
}

TEST(Recorder, ReplacesAnEarlierRecord) {
  TempDir dir;
  ASSERT_EQ(Record(PatternBoard(), dir.path()).status, 128);
  sim::Board board = DistinctChips();
  ASSERT_EQ(Record(board, dir.path()).status, 128);
  EXPECT_EQ(Listing(dir.path()).size(), 4u);
  ExpectSameRuns(board, LoadRecord(dir.path()));
}

// The earlier record is replaced as one folder or not at all.
TEST(Recorder, AnEarlierRecordThatCannotGoWholeIsKept) {
  sim::Board board = DistinctChips();
  {
    SCOPED_TRACE("read-only backup.rom");
    TempDir dir;
    ASSERT_EQ(Record(PatternBoard(), dir.path()).status, 128);
    fs::path backup = dir.path() / "PELLRIX.REC/backup.rom";
    std::vector<uint8_t> earlier = ReadFileBytes(backup);
    fs::permissions(backup, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    std::vector<std::string> before = Listing(dir.path());
    RecordRun run = Record(board, dir.path());
    EXPECT_EQ(run.status, 130);
    EXPECT_NE(run.console.find("!!! Fail to record the board !!!\n"), std::string::npos);
    EXPECT_EQ(Listing(dir.path()), before);
    EXPECT_EQ(ReadFileBytes(backup), earlier);
    EXPECT_EQ(run.activeAfter, board.active);
  }
  {
    SCOPED_TRACE("a file named like the record");
    TempDir dir;
    std::ofstream(dir.path() / "PELLRIX.REC") << "not a record";
    EXPECT_EQ(Record(board, dir.path()).status, 130);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"PELLRIX.REC"});
  }
}

TEST(Recorder, AnInterruptedRunsFoldersAreCleared) {
  TempDir dir;
  ASSERT_EQ(Record(PatternBoard(), dir.path()).status, 128);
  fs::create_directory(dir.path() / "PELLRIX.REC.NEW");
  std::ofstream(dir.path() / "PELLRIX.REC.NEW/main.rom") << "half";
  // A name the new record does not write again: kept, it would end up in
  // the record unless the leftover folder is cleared first.
  std::ofstream(dir.path() / "PELLRIX.REC.NEW/main.rom.OLD") << "stale";
  fs::create_directory(dir.path() / "PELLRIX.REC.OLD");
  std::ofstream(dir.path() / "PELLRIX.REC.OLD/board.json") << "{}";
  sim::Board board = DistinctChips();
  ASSERT_EQ(Record(board, dir.path()).status, 128);
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"PELLRIX.REC", "PELLRIX.REC/backup.rom",
                                                           "PELLRIX.REC/board.json", "PELLRIX.REC/main.rom"}));
  ExpectSameRuns(board, LoadRecord(dir.path()));
}

// Every allocation failing in turn, the second chip's image among them (after
// the switch to the other chip): the start-up chip is active again, and the
// run either records or fails with its line and 130, leaking nothing.
TEST(Recorder, EveryAllocationFailingInTurnLeavesTheStartUpChip) {
  for (uint8_t active : {0, 1}) {
    sim::Board board = DistinctChips();
    board.active = active;
    TempDir clean;
    RecordRun first = Record(board, clean.path());
    ASSERT_EQ(first.status, 128);
    for (uint64_t ordinal = 1; ordinal <= first.report.pool_allocations; ++ordinal) {
      SCOPED_TRACE("active " + std::to_string(active) + ", allocation " + std::to_string(ordinal));
      board.fail_alloc = {ordinal};
      TempDir dir;
      RecordRun run = Record(board, dir.path());
      EXPECT_EQ(run.activeAfter, active);
      EXPECT_EQ(run.poolOutstanding, 0u);
      if (run.status == 128) continue;
      EXPECT_EQ(run.status, 130);
      EXPECT_NE(run.console.find("!!! Fail to record the board !!!\n"), std::string::npos) << run.console;
      EXPECT_TRUE(Listing(dir.path()).empty());
    }
  }
}

// A part-name byte above 0x7F is written as '?', so the record stays valid
// JSON (and UTF-8) and loads in the simulator.
TEST(Recorder, PartNameBytesAboveAsciiBecomeQuestionMarks) {
  sim::Board board = DistinctChips();
  board.main.part_name = std::string(
      "MX\xE9\xFF"
      "25",
      6);
  TempDir dir;
  ASSERT_EQ(Record(board, dir.path()).status, 128);
  EXPECT_EQ(RecordJson(dir.path())["chips"]["main"]["part_name"], "MX??25");
  sim::Board loaded = LoadRecord(dir.path());
  EXPECT_EQ(loaded.main.part_name, "MX??25");
}

TEST(Recorder, RoomCheckSizesTheEvidenceFromThePart) {
  // Faults caught: a stick without room for a failure's evidence passed as
  // fit (the kit would test, fail and keep nothing without a warning), a
  // part size guessed on a board that reports its own, and a check that
  // writes or switches anything.
  constexpr uint64_t kMiB = 1 << 20;
  struct Case {
    const char* name;
    sim::ChipSelectMode chipSelect;
    std::optional<uint64_t> diskFree;
    int status;
    const char* says;
  };
  // The pattern board's parts are 128 KiB: four of them and 1 MiB for the
  // log and listings; without a chip select the bound is four 32 MiB parts.
  for (const Case& c : std::vector<Case>{
           {"room reported", sim::ChipSelectMode::Present, 2 * kMiB, 128, "(2 MiB for two chips of this board twice)"},
           {"no room", sim::ChipSelectMode::Present, 1 * kMiB, 130, "... NO, 1 MiB free"},
           {"free space not reported", sim::ChipSelectMode::Present, std::nullopt, 128, "yes"},
           {"unknown part, no room", sim::ChipSelectMode::Absent, 100 * kMiB, 130, "(129 MiB for two 32 MiB chips"},
           {"unknown part, room", sim::ChipSelectMode::Unsupported, 200 * kMiB, 128, "yes, 200 MiB free"}}) {
    SCOPED_TRACE(c.name);
    sim::Board board = PatternBoard();
    board.chip_select = c.chipSelect;
    if (c.chipSelect == sim::ChipSelectMode::Unsupported) board.is_supported_value = 0;
    board.disk_free = c.diskFree;
    TempDir dir;
    sim::Machine machine(board, dir.str());
    ResetToolState();
    char name[] = "pellrix-record";
    char option[] = "/ROOM";
    char* argv[] = {name, option, nullptr};
    EXPECT_EQ(RecordBoardMain(2, argv), c.status);
    EXPECT_NE(machine.console().find(c.says), std::string::npos) << machine.console();
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_TRUE(machine.report().switch_requests.empty());
    EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
  }
}

TEST(Recorder, RefusesArguments) {
  sim::Machine machine(PatternBoard());
  ResetToolState();
  char name[] = "pellrix-record";
  char argument[] = "/s";
  char* argv[] = {name, argument, nullptr};
  EXPECT_EQ(RecordBoardMain(2, argv), 131);
  EXPECT_TRUE(machine.report().switch_requests.empty());
}

}  // namespace
