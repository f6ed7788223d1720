// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-fleet on archives as labs keep them: chips deduplicated with hard
// links, links back to a parent folder, map tasks run again, names no
// terminal should see raw, a cache that keeps the board's own verdict, and
// kit runs and lines the grouping must not lose or merge.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fleet/golden_image.h"
#include "tests/fleet/fleet_boards.h"
#include "tests/support/diff_support.h"
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

nlohmann::json Json(const support::ProgramRun& run) {
  const nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << run.out << run.err;
  return document;
}

// Group descriptions to counts.
std::map<std::string, uint64_t> Counts(const nlohmann::json& document) {
  std::map<std::string, uint64_t> counts;
  for (const nlohmann::json& group : document["groups"]) counts[group["description"]] = group["count"];
  return counts;
}

void WriteText(const fs::path& path, const std::string& text) { WriteFile(path, sim::Bytes(text.begin(), text.end())); }

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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

const char* const kIdentical = "both chips identical to golden";
const char* const kBackupDriver =
    "Backup differs: DXE driver \"SetupDxe\" changed; the board's own test fails (Main against Backup, status 0x8e)";

// Faults: a chip reached again through a hard link refused (its board lost)
// or measured as another chip; the board's own verdict not taken again for
// linked chips; a board whose Main and Backup are one file refused; the
// guard against a folder searched twice through a link lost with it.
TEST(FleetArchive, HardLinkedChipsCountForEveryBoard) {
  Fixture f;
  const fs::path stock = f.scratch.path() / "stock";
  WriteRunFolder(stock, {BuildChip(ChipVariant::Golden), BuildChip(ChipVariant::DriverChanged)}, "");
  constexpr int kGolden = 12;
  constexpr int kDriver = 7;
  for (int i = 0; i < kGolden + kDriver; ++i) {
    const fs::path board = f.boards() / ("RUN" + std::to_string(100 + i));
    fs::create_directories(board);
    fs::create_hard_link(stock / "MAIN.BIN", board / "MAIN.BIN");
    fs::create_hard_link(stock / (i < kGolden ? "MAIN.BIN" : "BACKUP.BIN"), board / "BACKUP.BIN");
  }
  // One file as both chips of a board.
  fs::create_directories(f.boards() / "ONE");
  fs::create_hard_link(stock / "BACKUP.BIN", f.boards() / "ONE" / "MAIN.BIN");
  fs::create_hard_link(stock / "BACKUP.BIN", f.boards() / "ONE" / "BACKUP.BIN");
  fs::create_directories(f.boards() / "notes");
  fs::create_directory_symlink("..", f.boards() / "notes" / "up");
  for (const char* jobs : {"1", "2"}) {
    const support::ProgramRun run = Fleet({"--json", "--jobs", jobs, f.golden(), f.boards()});
    EXPECT_EQ(run.status, 2) << run.err;  // the link back up is listed
    const nlohmann::json document = Json(run);
    EXPECT_EQ(document["boards"], kGolden + kDriver + 1);
    EXPECT_EQ(document["matching_golden"], kGolden);
    const std::map<std::string, uint64_t> expected = {
        {kIdentical, kGolden},
        {kBackupDriver, kDriver},
        {"Main differs: DXE driver \"SetupDxe\" changed; Backup differs: DXE driver \"SetupDxe\" changed", 1}};
    EXPECT_EQ(Counts(document), expected) << document.dump(2);
    ASSERT_EQ(document["not_read"].size(), 1u) << document["not_read"];
    EXPECT_EQ(document["not_read"][0]["reason"], "a link to a folder already searched: not searched again");
  }
}

// Faults: a board named by the path that reached it, so that a map task
// that walks a link to the parent folder, or a map task's lines given twice,
// count boards twice; the group step dropping a repeated board silently.
TEST(FleetArchive, MapAndReduceEqualAWholeRunThroughAParentLink) {
  Fixture f;
  const sim::Bytes golden = BuildChip(ChipVariant::Golden);
  const sim::Bytes driver = BuildChip(ChipVariant::DriverChanged);
  WriteRunFolder(f.boards() / "site1" / "RUN001", {golden, golden}, "PASS comparison=0x80\r\n");
  WriteRunFolder(f.boards() / "site1" / "RUN002", {golden, driver}, "");
  WriteRunFolder(f.boards() / "site1" / "RUN003", {}, "FAIL comparison=0x8E save-main=none\r\n");
  WriteRunFolder(f.boards() / "site2" / "RUN004", {golden, golden}, "");
  WriteFile(f.boards() / "site2" / "lone.bin", driver);
  fs::create_directory_symlink("..", f.boards() / "site2" / "up");
  const support::ProgramRun whole = Fleet({"--json", f.golden(), f.boards()});
  const fs::path lines = f.scratch.path() / "lines.jsonl";
  {
    std::ofstream out(lines);
    for (const fs::directory_entry& entry : fs::directory_iterator(f.boards()))
      out << Fleet({"signature", f.golden(), entry.path()}).out;
  }
  const nlohmann::json expected = Json(whole);
  const support::ProgramRun once = Fleet({"group", "--json", lines});
  const support::ProgramRun twice = Fleet({"group", "--json", lines, lines});
  for (const support::ProgramRun* run : {&once, &twice}) {
    const nlohmann::json document = Json(*run);
    EXPECT_EQ(run->status, whole.status);
    EXPECT_EQ(document["boards"], 4);
    EXPECT_EQ(document["boards"], expected["boards"]);
    EXPECT_EQ(document["matching_golden"], expected["matching_golden"]);
    EXPECT_EQ(Counts(document), Counts(expected)) << document.dump(2);
    EXPECT_EQ(document["runs_without_dumps"].size(), expected["runs_without_dumps"].size());
    EXPECT_EQ(document["runs_without_dumps"][0]["count"], 1);
  }
  // site2's map walked up into site1 (its 3 records came again); given
  // twice, all 8 records come again.
  EXPECT_EQ(Json(once)["counted_once"].size(), 3u) << once.out;
  EXPECT_EQ(Json(twice)["counted_once"].size(), 11u) << twice.out;
  EXPECT_NE(Fleet({"group", lines, lines}).out.find("Counted once, reached again ("), std::string::npos);
}

// Faults: a name's newline or backslash written into JSON as the text
// "\x0A" (two folders become one name, the path does not open); a name or
// description taken from JSON lines printed raw to the terminal.
TEST(FleetArchive, NamesAreJsonEscapedAndTheTextEscapedForTheTerminal) {
  Fixture f;
  const sim::Bytes golden = BuildChip(ChipVariant::Golden);
  const std::vector<std::string> names = {"A\nB", "A\\x0AB", "tab\there", "back\\slash"};
  for (const std::string& name : names) WriteRunFolder(f.boards() / name, {golden, golden}, "");
  const nlohmann::json document = Json(Fleet({"--json", f.golden(), f.boards()}));
  std::vector<std::string> expected;
  for (const std::string& name : names) expected.push_back((f.boards() / name).string());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(document["groups"][0]["boards"], nlohmann::json(expected));
  for (const std::string& path : expected) EXPECT_TRUE(fs::exists(fs::path(path) / "MAIN.BIN")) << path;
  // The map's lines hold the same names.
  const support::ProgramRun map = Fleet({"signature", f.golden(), f.boards() / "A\nB"});
  EXPECT_EQ(Json(map)["board"], (f.boards() / "A\nB").string());
  // The text: one line per name, escaped.
  const std::string text = Fleet({f.golden(), f.boards()}).out;
  EXPECT_NE(text.find("A\\x0AB"), std::string::npos) << text;
  EXPECT_EQ(text.find("A\nB"), std::string::npos) << text;
  EXPECT_EQ(text.find('\t'), std::string::npos) << text;

  // Lines from elsewhere: the terminal sees no control byte of theirs.
  const fs::path hostile = f.scratch.path() / "hostile.jsonl";
  WriteText(hostile,
            R"({"kind":"board","board":"\u001b[2Jx","golden":"g","chips":[{"role":"Dump","path":"\u001b]0;t\u0007",)"
            R"("size":1,"sha256":"s","state":"differs","differences":[{"key":"k","text":"\u001b[31mred"}]}]})"
            "\n"
            R"({"kind":"run","board":"r\u009b1m","result":{"verdict":"FAIL\u001b[5m","values":{"model":"\u001b"}}})"
            "\n");
  const support::ProgramRun grouped = Fleet({"group", hostile});
  EXPECT_EQ(grouped.status, 1) << grouped.err;
  EXPECT_EQ(grouped.out.find('\x1b'), std::string::npos) << grouped.out;
  EXPECT_EQ(grouped.out.find('\x07'), std::string::npos) << grouped.out;
  EXPECT_EQ(grouped.out.find("\xc2\x9b"), std::string::npos) << grouped.out;
  EXPECT_NE(grouped.out.find("\\x1B[2Jx"), std::string::npos) << grouped.out;
}

// Faults: the warm cache not holding the board's own verdict (read back as
// a board line without chips and refused, so every differing board is
// compared again), or not holding a chip's signature. The cache's entries
// are planted with values no comparison gives: the run must show them.
TEST(FleetArchive, TheCacheAnswersForChipsAndTheBoardsOwnVerdict) {
  Fixture f;
  WriteRunFolder(f.boards() / "RUN001", {BuildChip(ChipVariant::Golden), BuildChip(ChipVariant::DriverChanged)}, "");
  const fs::path cache = f.scratch.path() / "fleet.cache";
  ASSERT_EQ(Fleet({"--cache", cache, f.golden(), f.boards()}).status, 1);
  std::string text = ReadText(cache);
  const auto plant = [&](const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " in " << text;
    text.replace(at, from.size(), to);
  };
  plant(R"("status":142)", R"("status":153)");  // 0x99
  plant(R"("text":"DXE driver \"SetupDxe\" changed")", R"("text":"planted")");
  WriteText(cache, text);
  const support::ProgramRun warm = Fleet({"--cache", cache, f.golden(), f.boards()});
  EXPECT_EQ(warm.status, 1);
  EXPECT_NE(warm.out.find("Backup differs: planted; the board's own test fails (Main against Backup, status 0x99)"),
            std::string::npos)
      << warm.out;
}

// Faults: a failed kit run (RESULT.TXT only) among boards that all match
// golden giving exit 0; a passing one giving 1.
TEST(FleetArchive, AFailedRunWithoutDumpsFailsTheFleet) {
  Fixture f;
  const sim::Bytes golden = BuildChip(ChipVariant::Golden);
  WriteRunFolder(f.boards() / "RUN001", {golden, golden}, "PASS comparison=0x80\r\n");
  WriteRunFolder(f.boards() / "RUN002", {}, "PASS comparison=0x80\r\n");
  EXPECT_EQ(Fleet({f.golden(), f.boards()}).status, 0);
  WriteRunFolder(f.boards() / "RUN003", {}, "FAIL comparison=0x8E save-main=none\r\n");
  const support::ProgramRun run = Fleet({f.golden(), f.boards()});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("1 run: FAIL comparison=0x8E"), std::string::npos) << run.out;
}

// Faults: the group step dropping the last line of a file without a final
// newline; boards failing their own test grouped with boards passing it
// (the verdict left out of the group key).
TEST(FleetArchive, GroupKeepsTheLastLineAndTheBoardsOwnVerdict) {
  const auto line = [](const std::string& name, bool pass) {
    return R"({"kind":"board","board":")" + name +
           R"(","golden":"g","chips":[{"role":"Main","path":"m","size":1,"sha256":"a","state":"identical",)"
           R"("differences":[]},{"role":"Backup","path":"b","size":1,"sha256":"b","state":"masked-only",)"
           R"("differences":[]}],"main_vs_backup":{"known":true,"pass":)" +
           (pass ? "true,\"status\":0}}" : "false,\"status\":142}}");
  };
  support::TempDir scratch;
  const fs::path lines = scratch.path() / "lines.jsonl";
  WriteText(lines, line("b1", true) + "\n" + line("b2", false) + "\n" + line("b3", true));  // no final newline
  const support::ProgramRun run = Fleet({"group", "--json", lines});
  const nlohmann::json document = Json(run);
  EXPECT_EQ(document["boards"], 3);
  const std::map<std::string, uint64_t> expected = {
      {"Backup differs only in the areas the board masks", 2},
      {"Backup differs only in the areas the board masks; the board's own test fails (Main against Backup, status "
       "0x8e)",
       1}};
  EXPECT_EQ(Counts(document), expected) << document.dump(2);
}

// Fault: an FMP capsule whose image runs past the file's end taken out
// anyway (a read past the buffer).
TEST(FleetArchive, AnFmpImageLongerThanTheFileIsRefused) {
  const sim::Bytes image = BuildChip(ChipVariant::Golden);
  sim::Bytes body = fleetsupport::FmpBody(image, 2, 1, false);
  for (const size_t cut : {size_t(1), size_t(4096), image.size() / 2}) {
    const sim::Bytes shorter(body.begin(), body.end() - long(cut));
    const sim::Bytes capsule = fleetsupport::CapsuleAround(fleetsupport::FmpCapsuleGuid(), shorter);
    std::string problem;
    const auto payload = fleet::FindCapsulePayload(capsule.data(), capsule.size(), &problem);
    EXPECT_FALSE(payload) << cut;
    EXPECT_NE(problem.find("runs past the file's end"), std::string::npos) << cut << ": " << problem;
  }
}

}  // namespace
