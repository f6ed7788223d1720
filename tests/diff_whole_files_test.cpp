// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff tells the whole truth about two files on its first screen:
// differing regions the board never reads, descriptors that disagree,
// files of different lengths in either order, a section one side cannot
// open, and a driver moved to another volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "fwtree/guid.h"
#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using sim::Bytes;
using namespace support;

sim::Guid Name(uint32_t n) { return NumberedGuid(0x7A0E0000, n); }
std::string NameText(uint32_t n) { return NumberedGuidText(0x7A0E0000, n); }

Bytes Driver(uint32_t n, const std::u16string& name) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.body = Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(900, n)), UiSection(name)});
  return sim::BuildFile(spec);
}

Bytes Volume(uint32_t n, const std::vector<Bytes>& files, uint64_t length = 0x10000) {
  sim::VolumeSpec spec;
  spec.length = length;
  spec.ext_name = Name(n);
  spec.files = files;
  return sim::BuildVolume(spec);
}

// A part laid out as one of the real descriptors lays it out: the
// descriptor, the ME region, the BIOS region ending at the top with a
// volume at its top.
Bytes Part(uint32_t biosBase, uint32_t meSeed) {
  Bytes part = BuildFlashDescriptor({{0, 0, 0xFFF}, {1, biosBase, 0x7FFFFF}, {2, 0x1000, biosBase - 1}});
  part.resize(0x800000, 0xFF);
  const Bytes me = sim::PseudoRandomBytes(0x10000, meSeed);
  std::copy(me.begin(), me.end(), part.begin() + 0x1000);
  const Bytes bios = Volume(1, {Driver(2, u"Same")});
  std::copy(bios.begin(), bios.end(), part.end() - long(bios.size()));
  return part;
}

class DiffWholeFiles : public ::testing::Test {
 protected:
  std::string Path(const std::string& name, const Bytes& bytes) {
    WriteBytes(scratch_.path() / name, bytes);
    return (scratch_.path() / name).string();
  }
  std::vector<std::string> FirstLines(const ProgramRun& run, size_t count) {
    std::vector<std::string> lines;
    std::istringstream in(run.out);
    std::string line;
    while (lines.size() < count && std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  TempDir scratch_;
};

// Parrot's layout (BIOS from 0x200000): ME regions that differ do not fail
// the board's verdict, but are the second line, and fail --strict.
TEST_F(DiffWholeFiles, ADifferingMeRegionIsOnTheFirstScreenAndFailsStrict) {
  const std::string a = Path("A.BIN", Part(0x200000, 1));
  const std::string b = Path("B.BIN", Part(0x200000, 2));
  const ProgramRun run = RunDiff({a, b});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = FirstLines(run, 2);
  EXPECT_EQ(lines[0], "On-board verdict: PASS, exit status 128 (Success)");
  EXPECT_EQ(lines[1].rfind("  Intel ME region: ", 0), 0u) << lines[1];
  EXPECT_EQ(RunDiff({"--strict", a, b}).status, 1);
  EXPECT_EQ(RunDiff({"--strict", a, a}).status, 0);

  const json whole = DiffJson(a, b)["summary"]["whole_files"];
  EXPECT_EQ(whole["identical"], false);
  ASSERT_EQ(whole["areas"].size(), 1u) << whole;
  EXPECT_EQ(whole["areas"][0]["area"], "Intel ME region");
  EXPECT_EQ(whole["areas"][0]["differing_bytes"], whole["differing_bytes"]);
  EXPECT_GT(whole["differing_bytes"].get<uint64_t>(), 0xF000u);
}

// Catches the whole-file count run over masked buffers: two chips of one
// board differ only where the board masks (serial, variables, chip area),
// yet the files are not byte-identical; every differing byte on disk counts.
TEST_F(DiffWholeFiles, BytesTheBoardMasksStillCountAsDifferingOnDisk) {
  const Bytes mainBytes = BuildProbePart(ProbeDescriptor(), 1, "1").bytes;
  sim::DescriptorSpec chipArea = ProbeDescriptor();
  chipArea.chip_area.fill(0x5A);
  const Bytes backupBytes = BuildProbePart(chipArea, 2, "2").bytes;
  ASSERT_EQ(mainBytes.size(), backupBytes.size());
  uint64_t onDisk = 0;
  for (size_t i = 0; i < mainBytes.size(); ++i) onDisk += mainBytes[i] != backupBytes[i];
  ASSERT_GT(onDisk, 0u);
  const std::string a = Path("A.BIN", mainBytes);
  const std::string b = Path("B.BIN", backupBytes);
  for (const auto& [first, second] : {std::pair{a, b}, std::pair{b, a}}) {
    const json report = DiffJson(first, second);
    EXPECT_EQ(report["verdict"]["result"], "PASS");
    const json& whole = report["summary"]["whole_files"];
    EXPECT_EQ(whole["identical"], false);
    EXPECT_EQ(whole["differing_bytes"], onDisk);
    uint64_t byArea = 0;
    for (const json& area : whole["areas"]) byArea += area["differing_bytes"].get<uint64_t>();
    EXPECT_EQ(byArea, onDisk) << whole["areas"];
    EXPECT_EQ(RunDiff({"--strict", first, second}).status, 1);
    EXPECT_EQ(RunDiff({first, second}).out.find("Whole files: byte-identical"), std::string::npos);
  }
}

// Catches a full FAIL report over random bytes with no word that Main holds
// nothing firmware-like (or the word at line 8, after the file counts):
// said in the first three lines, once, in either order.
TEST_F(DiffWholeFiles, ADumpThatHoldsNoFirmwareIsSaidOnTheFirstScreen) {
  const std::string noise = Path("NOISE.BIN", sim::PseudoRandomBytes(0x20000, 5));
  Bytes firmware = Volume(1, {Driver(2, u"Same")}, 0x20000);
  const std::string real = Path("REAL.BIN", firmware);
  for (const auto& [first, second, who] :
       {std::tuple{noise, real, std::string("Main")}, std::tuple{real, noise, std::string("Backup")}}) {
    const ProgramRun run = RunDiff({first, second});
    EXPECT_EQ(run.status, 1) << run.err;
    std::string screen;
    for (const std::string& line : FirstLines(run, 3)) screen += line + "\n";
    EXPECT_NE(screen.find("  " + who + " holds no firmware: no firmware volume"), std::string::npos) << screen;
    EXPECT_EQ(run.out.find("holds no firmware", run.out.find("holds no firmware") + 1), std::string::npos) << run.out;
  }
}

// Catches range counts that follow Main's layout alone: a driver moved or
// grown puts other file boundaries into Backup, and the ranges split there
// too, so both orders count the same ranges (and the same bytes).
TEST_F(DiffWholeFiles, RangeCountsDoNotDependOnTheOrder) {
  const Bytes original = Volume(1, {Driver(2, u"First"), Driver(3, u"Second"), Driver(4, u"Third")});
  sim::FileSpec grown;
  grown.name = Name(3);
  grown.body = Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(1500, 3)), UiSection(u"Second")});
  const struct {
    const char* change;
    Bytes backup;
  } cases[] = {
      {"a driver moved", Volume(1, {Driver(3, u"Second"), Driver(2, u"First"), Driver(4, u"Third")})},
      {"a driver grown", Volume(1, {Driver(2, u"First"), sim::BuildFile(grown), Driver(4, u"Third")})},
  };
  for (const auto& test : cases) {
    const std::string a = Path("A.BIN", original);
    const std::string b = Path("B.BIN", test.backup);
    const json forward = DiffJson(a, b)["summary"];
    const json backward = DiffJson(b, a)["summary"];
    EXPECT_GT(forward["differing_ranges"].get<uint64_t>(), 0u) << test.change;
    EXPECT_EQ(forward["differing_ranges"], backward["differing_ranges"]) << test.change;
    EXPECT_EQ(forward["differing_bytes"], backward["differing_bytes"]) << test.change;
  }
}

// Catches a whole-chip dump placed at the top of the part although it
// starts with a flash descriptor: Backup is Main with a second part's worth
// appended (erased but its last 4 KiB). Placed by the descriptor, the first
// part is identical, nothing moved, and the rest is beyond the part.
TEST_F(DiffWholeFiles, ADumpWithAFlashDescriptorIsPlacedByItInBothOrders) {
  Bytes chip = BuildFlashDescriptor({{0, 0, 0xFFF}, {1, 0x10000, 0x1FFFF}, {2, 0x1000, 0xFFFF}});
  chip.resize(0x20000, 0xFF);
  const Bytes me = sim::PseudoRandomBytes(0x8000, 3);
  std::copy(me.begin(), me.end(), chip.begin() + 0x1000);
  const Bytes bios = Volume(1, {Driver(2, u"First"), Driver(3, u"Second")});
  std::copy(bios.begin(), bios.end(), chip.begin() + 0x10000);
  Bytes doubled = chip;
  doubled.resize(0x40000, 0xFF);
  const Bytes tail = sim::PseudoRandomBytes(0x1000, 4);
  std::copy(tail.begin(), tail.end(), doubled.end() - 0x1000);
  const uint64_t notErased = uint64_t(std::count_if(tail.begin(), tail.end(), [](uint8_t b) { return b != 0xFF; }));
  const std::string shortFile = Path("CHIP.BIN", chip);
  const std::string longFile = Path("DOUBLED.BIN", doubled);
  for (const auto& [first, second, longer] : {std::tuple{shortFile, longFile, 1}, std::tuple{longFile, shortFile, 0}}) {
    const json report = DiffJson(first, second);
    EXPECT_EQ(report["verdict"]["result"], "PASS") << report["verdict"];
    EXPECT_EQ(report["geometry"]["flash_size"], 0x20000);
    const json& whole = report["summary"]["whole_files"];
    EXPECT_EQ(whole["differing_bytes"], 0) << whole;
    EXPECT_EQ(whole["areas"], json::array()) << whole;
    EXPECT_EQ(whole["length_difference"]["bytes"], 0x20000);
    EXPECT_EQ(whole["length_difference"]["not_erased"], notErased);
    EXPECT_EQ(whole["length_difference"]["beyond_part"], 0x20000);
    EXPECT_EQ(report["summary"]["differing_ranges"], 0);
    EXPECT_EQ(report["files"], json::array()) << report["files"];
    for (const json& dump : report["dumps"])
      EXPECT_EQ(dump["layout"]["volumes"][0]["flash_offset"], 0x10000) << dump["file"];
    const std::string text = RunDiff({first, second}).out;
    EXPECT_NE(text.find(std::string(longer == 1 ? "Backup" : "Main") + " is longer by 131072 bytes (0x20000), " +
                        std::to_string(notErased) + " of them not erased, all beyond the flash part"),
              std::string::npos)
        << text;
  }
}

// A number on the command line that changes what is compared says so; one
// that agrees with the descriptor says nothing.
TEST_F(DiffWholeFiles, GeometryOptionsThatChangeTheCompareAreWarnedAbout) {
  const std::string a = Path("A.BIN", Part(0x200000, 1));
  const std::string b = Path("B.BIN", Part(0x200000, 2));
  struct Case {
    std::vector<std::string> options;
    std::string warning;  // empty: no option warning
  };
  for (const Case& c : {Case{{"--bios-size=0x100000"}, "--bios-size 0x100000 makes the board compare the top 0x100000"},
                        Case{{"--block-size=0x10000"}, "--block-size 0x10000 sets the blocks of the compare"},
                        Case{{"--flash-size=0x1000000"}, "--flash-size 0x1000000 places the dumps in a part"},
                        Case{{"--bios-size=0x600000", "--flash-size=0x800000"}, ""}}) {
    const std::string warnings = DiffJson(a, b, c.options)["summary"]["warnings"].dump();
    if (c.warning.empty())
      EXPECT_EQ(warnings.find("--"), std::string::npos) << warnings;
    else
      EXPECT_NE(warnings.find(c.warning), std::string::npos) << warnings;
  }
}

// Parrot's layout against Stumpy's: the disagreement comes first, and the
// counts are the same in both orders.
TEST_F(DiffWholeFiles, DescriptorsThatDisagreeAreSaidFirstInBothOrders) {
  const std::string parrot = Path("P.BIN", Part(0x200000, 1));
  const std::string stumpy = Path("S.BIN", Part(0x180000, 1));
  const ProgramRun run = RunDiff({parrot, stumpy});
  const std::vector<std::string> lines = FirstLines(run, 3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1],
            "  Descriptors disagree on the BIOS region: 0x200000-0x7fffff in Main, 0x180000-0x7fffff in Backup");
  EXPECT_EQ(lines[2],
            "  Descriptors disagree on the Intel ME region: 0x1000-0x1fffff in Main, 0x1000-0x17ffff in Backup");
  const json forward = DiffJson(parrot, stumpy)["summary"]["whole_files"];
  const json backward = DiffJson(stumpy, parrot)["summary"]["whole_files"];
  EXPECT_EQ(forward["differing_bytes"], backward["differing_bytes"]);
  EXPECT_EQ(forward["areas"], backward["areas"]);
  EXPECT_EQ(forward["descriptor_disagreements"].size(), 2u);

  // Catches a region counted only as disagreed on: where both descriptors
  // put the ME region, its differing bytes are the ME region's.
  const std::string otherMe = Path("S2.BIN", Part(0x180000, 2));
  for (const auto& [first, second] : {std::pair{parrot, otherMe}, std::pair{otherMe, parrot}}) {
    const json whole = DiffJson(first, second)["summary"]["whole_files"];
    std::map<std::string, uint64_t> areas;
    for (const json& area : whole["areas"]) areas[area["area"]] = area["differing_bytes"];
    EXPECT_GT(areas["Intel ME region"], 0xF000u) << whole["areas"];
    EXPECT_EQ(areas.count("regions the descriptors disagree on"), 0u) << whole["areas"];
  }
}

// One dump longer than the other by a volume of its own and random bytes:
// both orders give the same counts and the same files, mirrored; the file
// below the shorter Main's part has no made-up flash offset; only the
// verdict depends on the order, and the report says whose geometry it used.
TEST_F(DiffWholeFiles, ALongerBackupGivesTheSameListsInBothOrders) {
  const Bytes top = Volume(1, {Driver(2, u"Same")});
  Bytes longer = Volume(3, {Driver(4, u"OnlyBelow")});
  const Bytes noise = sim::PseudoRandomBytes(0x8000, 9);
  longer.insert(longer.end(), noise.begin(), noise.end());
  longer.insert(longer.end(), top.begin(), top.end());
  const std::string shortFile = Path("SHORT.BIN", top);
  const std::string longFile = Path("LONG.BIN", longer);

  const json forward = DiffJson(shortFile, longFile);
  const json backward = DiffJson(longFile, shortFile);
  for (const json* report : {&forward, &backward}) {
    const json& length = (*report)["summary"]["whole_files"]["length_difference"];
    EXPECT_EQ(length["bytes"], longer.size() - top.size());
    EXPECT_NE((*report)["summary"]["warnings"].dump().find("the verdict uses Main's geometry"), std::string::npos);
  }
  EXPECT_EQ(forward["summary"]["whole_files"]["length_difference"]["longer"], "Backup");
  EXPECT_EQ(backward["summary"]["whole_files"]["length_difference"]["longer"], "Main");
  EXPECT_EQ(forward["summary"]["whole_files"]["differing_bytes"],
            backward["summary"]["whole_files"]["differing_bytes"]);
  EXPECT_EQ(forward["summary"]["whole_files"]["length_difference"]["not_erased"],
            backward["summary"]["whole_files"]["length_difference"]["not_erased"]);

  auto changes = [](const json& report, bool swap) {
    std::set<std::string> found;
    for (const json& file : report["files"]) {
      std::string change = file["change"];
      if (swap && change == "only in Main")
        change = "only in Backup";
      else if (swap && change == "only in Backup")
        change = "only in Main";
      found.insert(change + " " + file["guid"].get<std::string>());
    }
    return found;
  };
  EXPECT_EQ(changes(forward, false), changes(backward, true));
  EXPECT_EQ(changes(forward, false), (std::set<std::string>{"only in Backup " + NameText(4)}));
  const json& below = forward["files"][0]["backup"];
  EXPECT_TRUE(below["flash_offset"].is_null()) << below;
  EXPECT_EQ(below["flash_offset_reason"], "below the flash part of the geometry used");
  EXPECT_TRUE(backward["files"][0]["main"]["flash_offset"].is_number());
  // Catches a volume below the part given flash offset 0 (and then drawn
  // over the part's first bytes): it has no flash offset, as its files.
  const json& belowVolume = forward["dumps"][1]["layout"]["volumes"][0];
  EXPECT_TRUE(belowVolume["flash_offset"].is_null()) << belowVolume;
  EXPECT_EQ(belowVolume["flash_offset_reason"], "below the flash part of the geometry used");
}

// A byte flipped inside Backup's LZMA stream: one "unreadable in Backup"
// with the reason, and the drivers inside it hidden, never "only in Main".
TEST_F(DiffWholeFiles, AnUnreadableSectionIsItsOwnChangeAndHidesWhatItHolds) {
  sim::FileSpec container;
  container.name = Name(10);
  container.type = kFileTypeVolumeImage;
  container.body = Sections(
      {LzmaSection(Sections({VolumeImageSection(Volume(11, {Driver(12, u"Inner"), Driver(13, u"Other")}, 0x8000))}))});
  const Bytes main = Volume(1, {sim::BuildFile(container)});
  Bytes backup = main;
  // Past the volume header (0x48), the extended-name pad file, the file and
  // section headers: inside the compressed stream's first bytes.
  const size_t stream =
      size_t(std::search(backup.begin(), backup.end(), container.body.begin() + 24, container.body.begin() + 40) -
             backup.begin());
  ASSERT_LT(stream, backup.size());
  backup[stream + 8] ^= 0xFF;
  const json report = DiffJson(Path("MAIN.BIN", main), Path("BACKUP.BIN", backup));
  std::map<std::string, json> byGuid;
  for (const json& file : report["files"]) byGuid[file["guid"]] = file;
  ASSERT_TRUE(byGuid.count(NameText(10))) << report["files"];
  EXPECT_EQ(byGuid[NameText(10)]["change"], "unreadable in Backup");
  EXPECT_FALSE(byGuid[NameText(10)]["reason"].get<std::string>().empty());
  for (uint32_t inner : {12u, 13u}) {
    EXPECT_EQ(byGuid[NameText(inner)]["change"], "hidden in Backup") << inner;
    EXPECT_EQ(byGuid[NameText(inner)]["hidden_by"]["guid"], NameText(10));
  }
  EXPECT_EQ(report["summary"]["files_only_in_main"], 0);
  EXPECT_EQ(report["summary"]["files_unreadable"], 1);
  // Catches a label running into the GUID after it: the column fits the
  // longest label.
  const std::string text = RunDiff({Path("MAIN.BIN", main), Path("BACKUP.BIN", backup)}).out;
  EXPECT_NE(text.find("    unreadable in Backup  " + NameText(10)), std::string::npos) << text;
  EXPECT_NE(text.find("    hidden in Backup      " + NameText(12)), std::string::npos) << text;

  // A volume Backup's file cuts short is a problem of Backup's walk alone:
  // said in the comparison, not only by --info.
  Bytes cut = main;
  cut.resize(cut.size() - 0x1000);
  const std::string warnings = DiffJson(Path("MAIN.BIN", main), Path("CUT.BIN", cut),
                                        {"--flash-size=0x10000", "--bios-size=0x10000"})["summary"]["warnings"]
                                   .dump();
  EXPECT_NE(warnings.find("Backup's firmware tree: "), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("Main's firmware tree"), std::string::npos) << warnings;
}

// A driver moved from one volume to another (unique by GUID and name on
// each side) is one line, not a removal and an addition.
TEST_F(DiffWholeFiles, ADriverMovedToAnotherVolumeIsOneChange) {
  auto image = [](bool moved) {
    Bytes bytes = Volume(20, moved ? std::vector<Bytes>{} : std::vector<Bytes>{Driver(22, u"Wanderer")}, 0x8000);
    const Bytes second = Volume(21, moved ? std::vector<Bytes>{Driver(22, u"Wanderer")} : std::vector<Bytes>{}, 0x8000);
    bytes.insert(bytes.end(), second.begin(), second.end());
    return bytes;
  };
  const std::string main = Path("MAIN.BIN", image(false));
  const std::string backup = Path("BACKUP.BIN", image(true));
  const json report = DiffJson(main, backup);
  ASSERT_EQ(report["files"].size(), 1u) << report["files"];
  EXPECT_EQ(report["files"][0]["change"], "moved");
  EXPECT_EQ(report["files"][0]["moved_to"]["path"], json::array({NameText(21)}));
  EXPECT_EQ(report["files"][0]["content_changed"], false);
  const ProgramRun run = RunDiff({main, backup});
  EXPECT_NE(run.out.find("moved from volume " + NameText(20) + " to volume " + NameText(21)), std::string::npos)
      << run.out;
}

}  // namespace
