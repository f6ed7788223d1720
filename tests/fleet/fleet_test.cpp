// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-fleet on built boards: the groups and their signatures, golden
// images wrapped in capsules, kit RUN folders, hostile folders, the split
// into map and reduce, and the cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fleet/chip_signature.h"
#include "fleet/golden_image.h"
#include "fleet/grouping.h"
#include "fleet/run_result.h"
#include "tests/fleet/fleet_boards.h"
#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

namespace fs = std::filesystem;
using fleetsupport::BuildChip;
using fleetsupport::ChipVariant;
using fleetsupport::WriteFile;
using fleetsupport::WriteRunFolder;

support::ProgramRun Fleet(const std::vector<std::string>& arguments) {
  return support::RunProgram(PELLRIX_FLEET_PATH, arguments);
}

nlohmann::json FleetJson(std::vector<std::string> arguments, int status) {
  arguments.insert(arguments.begin(), "--json");
  const support::ProgramRun run = Fleet(arguments);
  EXPECT_EQ(run.status, status) << run.err;
  const nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << run.out;
  return document;
}

// Group descriptions to counts.
std::map<std::string, uint64_t> Counts(const nlohmann::json& document) {
  std::map<std::string, uint64_t> counts;
  for (const nlohmann::json& group : document["groups"]) counts[group["description"]] = group["count"];
  return counts;
}

struct Fixture {
  support::TempDir scratch;
  fs::path golden() const { return scratch.path() / "golden.bin"; }
  fs::path boards() const { return scratch.path() / "boards"; }
  Fixture() {
    WriteFile(golden(), BuildChip(ChipVariant::Golden));
    fs::create_directories(boards());
  }
};

// Faults: a chip equal to golden sent through the tree walk or grouped apart
// from its twins; a changed driver or variable not named, or named by
// something that differs per board (an offset) so twins split; golden's
// masks applied twice by a second comparison, so the second board of a kind
// groups apart from the first; a chip cut short not told as such; a chip's
// causes (bit errors, settings) not leading its part of the description.
TEST(FleetGroups, BuiltBoardsGroupBySignature) {
  Fixture f;
  const sim::Bytes golden = BuildChip(ChipVariant::Golden);
  const sim::Bytes serial = BuildChip(ChipVariant::SerialOnly);
  const sim::Bytes driver = BuildChip(ChipVariant::DriverChanged);
  const sim::Bytes variable = BuildChip(ChipVariant::VariableChanged);
  const sim::Bytes flipped = BuildChip(ChipVariant::DriverBitErrors);
  const sim::Bytes cut(golden.begin(), golden.begin() + golden.size() / 2);
  const struct {
    const char* board;
    std::vector<sim::Bytes> chips;
  } boards[] = {
      {"RUN001", {golden, golden}}, {"RUN002", {golden, golden}},     {"RUN003", {golden, driver}},
      {"RUN004", {golden, driver}}, {"RUN005", {variable, variable}}, {"RUN006", {serial, cut}},
      {"RUN007", {serial, serial}}, {"RUN008", {golden, flipped}},
  };
  for (const auto& board : boards) WriteRunFolder(f.boards() / board.board, board.chips, "");
  const nlohmann::json document = FleetJson({f.golden(), f.boards()}, 1);
  const std::map<std::string, uint64_t> expected = {
      {"both chips identical to golden", 2},
      {"Backup differs: DXE driver \"SetupDxe\" changed; the board's own test fails (Main against Backup, status "
       "0x8e)",
       2},
      {"Main settings changed; Main differs: variable Setup changed; Backup settings changed; Backup differs: "
       "variable Setup changed",
       1},
      // The cause leads: bits set on the chip, in the driver they fall in.
      {"Backup bit errors in SetupDxe; Backup differs: DXE driver \"SetupDxe\" changed; the board's own test fails "
       "(Main against Backup, status 0x8e)",
       1},
      {"Main differs only in the areas the board masks; Backup differs: shorter than golden (cut short); the "
       "board's own test fails (Main against Backup, status 0x8d)",
       1},
      {"Main differs only in the areas the board masks; Backup differs only in the areas the board masks", 1},
  };
  EXPECT_EQ(Counts(document), expected) << document.dump(2);
  EXPECT_EQ(document["boards"], 8);
  EXPECT_EQ(document["matching_golden"], 3);  // identical, or only masked bytes differ
  // The largest groups first (ties by description), their boards by name.
  EXPECT_EQ(document["groups"][0]["boards"][0], (f.boards() / "RUN003").string());
  EXPECT_EQ(document["groups"][1]["boards"], nlohmann::json({f.boards() / "RUN001", f.boards() / "RUN002"}));
  // The signature names the driver's file by its GUID path, not its offset.
  const nlohmann::json& changed = document["groups"][0]["signature"][1]["differences"][0]["key"];
  EXPECT_NE(changed.get<std::string>().find(support::NumberedGuidText(0xF1EE7000, 1) + "#0 changed"), std::string::npos)
      << changed;
}

// Faults: the worker threads' order leaking into the output; a lone dump not
// taken as a board.
TEST(FleetGroups, OutputDoesNotDependOnTheWorkers) {
  Fixture f;
  for (int i = 0; i < 12; ++i)
    WriteFile(f.boards() / ("dump" + std::to_string(i) + ".bin"),
              BuildChip(i % 3 == 0 ? ChipVariant::DriverChanged : ChipVariant::Golden));
  const support::ProgramRun one = Fleet({"--jobs", "1", f.golden(), f.boards()});
  const support::ProgramRun two = Fleet({"--jobs", "2", f.golden(), f.boards()});
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.out, two.out);
  EXPECT_NE(one.out.find("8 boards: the dump identical to golden"), std::string::npos) << one.out;
  EXPECT_NE(one.out.find("4 boards: the dump differs: DXE driver \"SetupDxe\" changed"), std::string::npos) << one.out;
}

// Faults: a capsule's image taken from the wrong offset (its header, the
// FMP item list, the signature in front of it), a capsule that cannot be
// unwrapped taken as a dump, a refused file not refused.
TEST(FleetGolden, CapsulesAreUnwrapped) {
  const sim::Bytes image = BuildChip(ChipVariant::Golden);
  const sim::Guid other = sim::MakeGuid(0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8});
  const sim::Guid ux = sim::MakeGuid(0x3B8C8162, 0x188C, 0x46A4, {0xAE, 0xC9, 0xBE, 0x43, 0xF1, 0xD6, 0x56, 0x97});
  const struct {
    const char* name;
    sim::Bytes file;
    bool capsule;
    const char* problem;  // part of the reason, for a refused one
  } cases[] = {
      {"dump", image, false, ""},
      {"UEFI capsule", fleetsupport::CapsuleAround(other, image), true, ""},
      {"FMP v1", fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(), fleetsupport::FmpBody(image, 1, 1, false)),
       true, ""},
      {"FMP v3 signed",
       fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(), fleetsupport::FmpBody(image, 3, 1, true)), true, ""},
      {"FMP two images",
       fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(), fleetsupport::FmpBody(image, 2, 2, false)), true,
       "carrying 2 images"},
      {"FMP version 9",
       fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(), fleetsupport::FmpBody(image, 9, 1, false)), true,
       "unknown version 9"},
      {"boot screen", fleetsupport::CapsuleAround(ux, image), true, "boot screen"},
  };
  for (const auto& c : cases) {
    std::string problem;
    const auto payload = fleet::FindCapsulePayload(c.file.data(), c.file.size(), &problem);
    EXPECT_EQ(payload.has_value() || !problem.empty(), c.capsule) << c.name;
    if (*c.problem) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
      continue;
    }
    if (!payload) continue;
    ASSERT_EQ(payload->length, image.size()) << c.name;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), c.file.begin() + long(payload->offset))) << c.name;
  }
}

// Faults: the fleet comparing boards with the capsule's bytes instead of the
// image it carries; every whole part told "longer" than a golden BIOS
// region; a file that is no firmware taken as golden.
TEST(FleetGolden, BoardsMatchTheImageACapsuleCarries) {
  Fixture f;
  const fs::path capsule = f.scratch.path() / "update.cap";
  WriteFile(capsule, fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(),
                                                 fleetsupport::FmpBody(BuildChip(ChipVariant::Golden), 2, 1, true)));
  WriteRunFolder(f.boards() / "RUN001", {BuildChip(ChipVariant::Golden), BuildChip(ChipVariant::Golden)}, "");
  const support::ProgramRun run = Fleet({capsule, f.boards()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("1 board: both chips identical to golden"), std::string::npos) << run.out;
  // A capsule carrying the BIOS region alone: the whole parts below it are
  // no difference.
  const sim::Bytes whole = BuildChip(ChipVariant::Golden);
  const sim::Bytes region(whole.end() - support::ProbePart::kBiosSize, whole.end());
  WriteFile(capsule,
            fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(), fleetsupport::FmpBody(region, 3, 1, false)));
  const support::ProgramRun regionRun = Fleet({capsule, f.boards()});
  EXPECT_EQ(regionRun.status, 0) << regionRun.out;
  const fs::path text = f.scratch.path() / "notes.bin";
  WriteFile(text, sim::PseudoRandomBytes(70000, 5));
  const support::ProgramRun refused = Fleet({text, f.boards()});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("is neither a chip dump"), std::string::npos) << refused.err;
}

// Faults: a verdict or status lost from RESULT.TXT (CRLF, extra spaces,
// identity keys); a file the kit cannot have written read as if it had.
TEST(FleetRuns, ResultTextIsParsedDefensively) {
  const struct {
    std::string text;
    const char* verdict;  // null: refused
    const char* comparison;
    const char* problem;
  } cases[] = {
      {"PASS comparison=0x80\r\n", "PASS", "0x80", ""},
      {"FAIL  comparison=0x8E save-main=none\tsave-backup=none record=none\r\n", "FAIL", "0x8E", ""},
      {"\r\nUNSUPPORTED comparison=0x82\r\nmodel=X570 version=1.2\r\n", "UNSUPPORTED", "0x82", ""},
      {"", nullptr, "", "empty"},
      {std::string("PASS\0comparison=0x80", 20), nullptr, "", "not text"},
      {"comparison=0x80\n", nullptr, "", "no verdict"},
  };
  for (const auto& c : cases) {
    std::string problem;
    const auto result = fleet::ParseRunResult(c.text, &problem);
    ASSERT_EQ(result.has_value(), c.verdict != nullptr) << c.text << ": " << problem;
    if (!result) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      continue;
    }
    EXPECT_EQ(result->verdict, c.verdict);
    EXPECT_EQ(result->Value("comparison"), c.comparison);
  }
}

// Faults: "moved and changed" split as "moved and" + "changed" (the page
// draws the file in a second column), a variable whose name ends in a
// class word cut short, an area given a change it does not have.
TEST(FleetPage, ItemsSplitIntoWhatTheyAreAboutAndWhatHappened) {
  const std::string file = "file 6D1F0C2B-3A44-4E10-9B01-020304050607/F1EE7001-3333-4444-0908-070605040301#0";
  for (const std::string change :
       {"changed", "moved", "moved and changed", "missing", "added", "readable only on the chip", "unreadable"}) {
    const fleet::ItemParts parts = fleet::SplitItem({file + " " + change, "DXE driver \"Setup\" " + change});
    EXPECT_EQ(parts.subject, file) << change;
    EXPECT_EQ(parts.label, "DXE driver \"Setup\"") << change;
    EXPECT_EQ(parts.change, change);
  }
  for (const std::string change : {"changed", "deleted", "deleted in golden", "added"}) {
    const fleet::ItemParts parts = fleet::SplitItem(
        {"variable F1EE7101-3333-4444-0908-070605040301:Boot changed " + change, "variable Boot changed " + change});
    EXPECT_EQ(parts.subject, "variable F1EE7101-3333-4444-0908-070605040301:Boot changed") << change;
    EXPECT_EQ(parts.change, change);
  }
  const fleet::ItemParts area = fleet::SplitItem({"area free space", "free space differs"});
  EXPECT_EQ(area.subject, "area free space");
  EXPECT_EQ(area.label, "free space");
  EXPECT_EQ(area.change, "differs");
}

// Faults: a run counted on no day or two; a kit failure or a board that
// differs from golden not counted on its day; "date=unknown" or a time
// taken for a day; an input not read counted as a run.
TEST(FleetPage, FailuresPerDayFromResultText) {
  const auto record = [](fleet::RecordKind kind, const char* verdict, const char* date, bool differs) {
    fleet::BoardRecord board;
    board.kind = kind;
    board.name = std::string("b") + date + verdict + (differs ? "d" : "");
    board.result = fleet::RunResult{verdict, {{"date", date}}};
    fleet::ChipRecord chip;
    chip.role = "Main";
    chip.state = differs ? fleet::ChipState::Differs : fleet::ChipState::Identical;
    if (differs) chip.items = {{"length longer", "longer than golden"}};
    if (kind == fleet::RecordKind::Board) board.chips = {chip};
    if (kind == fleet::RecordKind::Trouble) board.trouble = "cannot be read";
    return board;
  };
  using fleet::RecordKind;
  fleet::Grouper grouper;
  grouper.Add(record(RecordKind::Board, "PASS", "2026-03-02", false));
  grouper.Add(record(RecordKind::Board, "PASS", "2026-03-02", true));
  grouper.Add(record(RecordKind::Board, "FAIL", "2026-03-01", true));
  grouper.Add(record(RecordKind::RunWithoutDumps, "FAIL", "2026-03-02", false));
  grouper.Add(record(RecordKind::RunWithoutDumps, "UNSUPPORTED", "2026-03-01", false));
  grouper.Add(record(RecordKind::Board, "FAIL", "unknown", true));
  grouper.Add(record(RecordKind::Board, "FAIL", "26-03-01", true));
  grouper.Add(record(RecordKind::Trouble, "FAIL", "2026-03-01", false));
  std::ostringstream out;
  grouper.WriteJson(out);
  EXPECT_EQ(nlohmann::json::parse(out.str())["days"], nlohmann::json::parse(R"([
      {"date": "2026-03-01", "runs": 2, "failed": 2, "differing": 1},
      {"date": "2026-03-02", "runs": 3, "failed": 1, "differing": 1}])"));
}

// Faults: a run without dumps counted as a board or dropped; runs grouped
// without their model and version; a 10 MB or binary RESULT.TXT read whole
// or silently ignored; a missing Backup not told.
TEST(FleetRuns, RunFoldersAsTheKitWritesThem) {
  Fixture f;
  const sim::Bytes golden = BuildChip(ChipVariant::Golden);
  WriteRunFolder(f.boards() / "RUN001", {}, "PASS comparison=0x80\r\n");
  WriteRunFolder(f.boards() / "RUN002", {golden, golden},
                 "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80\r\n");
  WriteRunFolder(f.boards() / "RUN003", {},
                 "FAIL comparison=0x8E save-main=none save-backup=none record=none model=X1 version=2.0\r\n");
  WriteRunFolder(f.boards() / "RUN004", {},
                 "FAIL comparison=0x8E save-main=none save-backup=none record=none model=X1 version=2.0\r\n");
  WriteRunFolder(f.boards() / "RUN005", {}, "UNSUPPORTED comparison=0x82\r\n");
  WriteRunFolder(f.boards() / "RUN006", {golden},
                 std::string("\x7f"
                             "ELF\x01\x02",
                             6));
  WriteRunFolder(f.boards() / "RUN007", {}, "x");
  ASSERT_EQ(truncate((f.boards() / "RUN007" / "RESULT.TXT").c_str(), 10 << 20), 0);
  WriteRunFolder(f.boards() / "RUN008", {}, "");  // a run cut short: only the log
  const nlohmann::json document = FleetJson({f.golden(), f.boards()}, 2);
  std::vector<std::string> runs;
  for (const nlohmann::json& run : document["runs_without_dumps"])
    runs.push_back(std::to_string(run["count"].get<int>()) + " " + run["verdict"].get<std::string>() + " " +
                   run["model"].get<std::string>());
  EXPECT_EQ(runs, (std::vector<std::string>{"2 FAIL X1", "1 UNSUPPORTED ", "1 PASS "}));
  std::map<std::string, std::string> notRead;
  for (const nlohmann::json& entry : document["not_read"])
    notRead[fs::path(entry["path"].get<std::string>()).lexically_relative(f.boards()).string()] = entry["reason"];
  EXPECT_EQ(notRead.size(), 4u) << document["not_read"].dump(2);
  EXPECT_NE(notRead["RUN006/RESULT.TXT"].find("not text"), std::string::npos);
  EXPECT_NE(notRead["RUN006/BACKUP.BIN"].find("missing"), std::string::npos);
  EXPECT_NE(notRead["RUN007"].find("10485760 bytes, longer than the kit writes"), std::string::npos);
  EXPECT_NE(notRead["RUN008"].find("the run was cut short"), std::string::npos);
  EXPECT_EQ(Counts(document)["both chips identical to golden"], 1u);
}

// Faults: a walk that hangs on a FIFO or a link loop, searches a folder
// twice through a link, drops a dump reached again through a hard link (it
// is a board of its own), drops an empty file or a name with a newline, or
// holds every empty file's bytes.
TEST(FleetHostile, EveryInputIsListedOnce) {
  Fixture f;
  constexpr int kEmptyFiles = 20000;
  const fs::path many = f.boards() / "many";
  fs::create_directories(many);
  for (int i = 0; i < kEmptyFiles; ++i) {
    const int fd = open((many / std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  ASSERT_EQ(mkfifo((f.boards() / "fifo").c_str(), 0600), 0);
  fs::create_symlink("loop", f.boards() / "loop");
  fs::create_directory_symlink(".", f.boards() / "self");
  WriteFile(f.boards() / "new\nline.bin", BuildChip(ChipVariant::Golden));
  fs::create_hard_link(f.boards() / "new\nline.bin", f.boards() / "hard.bin");
  const nlohmann::json document = FleetJson({f.golden(), f.boards()}, 2);
  std::map<std::string, int> reasons;
  for (const nlohmann::json& entry : document["not_read"]) ++reasons[entry["reason"]];
  EXPECT_EQ(reasons["0 bytes: an empty file, not a dump"], kEmptyFiles);
  EXPECT_EQ(reasons["a FIFO, not a file: not read"], 1);
  EXPECT_EQ(reasons["a link loop (too many levels of symbolic links)"], 1);
  EXPECT_EQ(reasons["a link to a folder already searched: not searched again"], 1);
  EXPECT_EQ(document["not_read"].size(), size_t(kEmptyFiles + 3));
  EXPECT_EQ(document["boards"], 2);
  // JSON holds the name itself: the path opens.
  const nlohmann::json names = document["groups"][0]["boards"];
  EXPECT_EQ(names, nlohmann::json({f.boards() / "hard.bin", f.boards() / "new\nline.bin"}));
}

// Faults: the map's lines losing what the grouping needs, so that grouping
// them elsewhere differs from one run; a line that is no board's grouped as
// one (a board without chips reads as identical to golden).
TEST(FleetSplit, GroupingTheMapsLinesEqualsOneRun) {
  Fixture f;
  const sim::Bytes golden = BuildChip(ChipVariant::Golden);
  WriteRunFolder(f.boards() / "RUN001", {golden, golden}, "FAIL comparison=0x8E\r\n");
  WriteRunFolder(f.boards() / "RUN002", {golden, BuildChip(ChipVariant::DriverChanged)}, "");
  WriteRunFolder(f.boards() / "RUN003", {BuildChip(ChipVariant::VariableChanged), golden}, "");
  WriteRunFolder(f.boards() / "RUN004", {}, "FAIL comparison=0x8E save-main=none model=Q\r\n");
  WriteFile(f.boards() / "empty.bin", {});
  const fs::path lines = f.scratch.path() / "lines.jsonl";
  {
    std::ofstream out(lines);
    for (const fs::directory_entry& entry : fs::directory_iterator(f.boards())) {
      const support::ProgramRun map = Fleet({"signature", f.golden(), entry.path()});
      EXPECT_NE(map.status, 2 * (entry.path().filename() != "empty.bin")) << map.err;
      out << map.out;
    }
  }
  // Lines that are no board's are listed, not grouped.
  const fs::path foreign = f.scratch.path() / "foreign.jsonl";
  const std::string junk = "{\"kind\":\"board\",\"board\":\"x\"}\nnot json\n";
  WriteFile(foreign, sim::Bytes(junk.begin(), junk.end()));
  const support::ProgramRun rejectedRun = Fleet({"group", "--json", foreign});
  EXPECT_EQ(rejectedRun.status, 2);
  const nlohmann::json rejected = nlohmann::json::parse(rejectedRun.out, nullptr, false);
  EXPECT_EQ(rejected["boards"], 0);
  EXPECT_EQ(rejected["not_read"].size(), 2u) << rejected.dump();
  for (const char* form : {"--json", "--jsonl"}) {
    const bool json = std::string(form) == "--json";
    const support::ProgramRun whole = Fleet({form, f.golden(), f.boards()});
    const support::ProgramRun grouped =
        Fleet(json ? std::vector<std::string>{"group", "--json", lines} : std::vector<std::string>{"group", lines});
    EXPECT_EQ(whole.status, 2);
    EXPECT_EQ(grouped.status, 2) << grouped.err;
    if (json) {
      EXPECT_EQ(whole.out, grouped.out);
    } else {
      // The whole run's lines, grouped, give the same text as the map's.
      const fs::path own = f.scratch.path() / "own.jsonl";
      WriteFile(own, sim::Bytes(whole.out.begin(), whole.out.end()));
      EXPECT_EQ(Fleet({"group", own}).out, Fleet({"group", lines}).out);
    }
  }
}

// Faults: the cache trusted after the file changed: rewritten in place with
// its modification time put back (only the change time tells).
TEST(FleetCache, StampDecidesWhetherAChipIsReadAgain) {
  Fixture f;
  const fs::path chip = f.boards() / "chip.bin";
  const fs::path cache = f.scratch.path() / "fleet.cache";
  WriteFile(chip, BuildChip(ChipVariant::Golden));
  struct stat before {};
  ASSERT_EQ(stat(chip.c_str(), &before), 0);
  EXPECT_EQ(Fleet({"--cache", cache, f.golden(), chip}).status, 0);
  // The same inode and size rewritten, its time put back: the change time
  // is new, so the chip is read again.
  {
    const sim::Bytes changed = BuildChip(ChipVariant::DriverChanged);
    ASSERT_EQ(changed.size(), BuildChip(ChipVariant::Golden).size());
    std::fstream out(chip, std::ios::in | std::ios::out | std::ios::binary);
    out.write(reinterpret_cast<const char*>(changed.data()), std::streamsize(changed.size()));
  }
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, chip.c_str(), times, 0), 0);
  EXPECT_EQ(Fleet({"--cache", cache, f.golden(), chip}).status, 1);
  // Golden's bytes put back the same way: read again, identical again.
  {
    const sim::Bytes original = BuildChip(ChipVariant::Golden);
    std::fstream out(chip, std::ios::in | std::ios::out | std::ios::binary);
    out.write(reinterpret_cast<const char*>(original.data()), std::streamsize(original.size()));
  }
  ASSERT_EQ(utimensat(AT_FDCWD, chip.c_str(), times, 0), 0);
  EXPECT_EQ(Fleet({"--cache", cache, f.golden(), chip}).status, 0);
}

}  // namespace
