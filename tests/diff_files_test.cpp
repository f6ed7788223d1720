// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff's file-level comparison on built images: files matched by
// path, GUID and index through compressed nested volumes, each change kind
// with both dumps' places, the summary, masked-only changes, a full-chip
// dump with an Intel flash descriptor, and the board's block rule.
#include <gtest/gtest.h>

#include <map>

#include "fwtree/guid.h"
#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using sim::Bytes;
using namespace support;

sim::Guid Name(uint32_t n) { return NumberedGuid(0xF11E0000, n); }
std::string NameText(uint32_t n) { return NumberedGuidText(0xF11E0000, n); }

Bytes Driver(uint32_t n, const std::u16string& name, uint32_t seed = 0, uint8_t type = sim::kFileTypeDriver) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.type = type;
  spec.body = Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(700, n * 100 + seed)), UiSection(name)});
  return sim::BuildFile(spec);
}

struct Pair {
  Bytes main;
  Bytes backup;
};

// The outer volume (name 1) holds a plain driver (10), a driver only Main has
// (11) and a volume image (12) whose LZMA section holds volume 13 with
// drivers 20, 21 twice; Backup puts a new driver (14) first, which moves the
// others, changes the second driver 21, and adds driver 22 inside.
Pair BuildPair() {
  auto image = [](bool backup) {
    std::vector<Bytes> inner = {Driver(20, u"InnerSame"), Driver(21, u"Twin"), Driver(21, u"Twin", backup ? 1 : 0)};
    if (backup) inner.push_back(Driver(22, u"AddedInside"));
    sim::VolumeSpec nested;
    nested.length = 0x8000;
    nested.ext_name = Name(13);
    nested.files = inner;
    sim::FileSpec container;
    container.name = Name(12);
    container.type = kFileTypeVolumeImage;
    container.body = Sections({LzmaSection(Sections({VolumeImageSection(sim::BuildVolume(nested))}))});
    sim::VolumeSpec outer;
    outer.length = 0x20000;
    outer.ext_name = Name(1);
    if (backup) outer.files.push_back(Driver(14, u"AddedOutside"));
    outer.files.push_back(Driver(10, u"Plain"));
    if (!backup) outer.files.push_back(Driver(11, u"Removed"));
    outer.files.push_back(sim::BuildFile(container));
    return sim::BuildVolume(outer);
  };
  return {image(false), image(true)};
}

class DiffFiles : public ::testing::Test {
 protected:
  json Compare(const Bytes& main, const Bytes& backup, std::vector<std::string> options = {}) {
    WriteBytes(scratch_.path() / "MAIN.BIN", main);
    WriteBytes(scratch_.path() / "BACKUP.BIN", backup);
    return DiffJson(scratch_.path() / "MAIN.BIN", scratch_.path() / "BACKUP.BIN", options);
  }
  std::string Path(const std::string& name, const Bytes& bytes) {
    WriteBytes(scratch_.path() / name, bytes);
    return (scratch_.path() / name).string();
  }
  TempDir scratch_;
};

std::map<std::string, json> ByGuidAndIndex(const json& files) {
  std::map<std::string, json> found;
  for (const json& file : files)
    found[file["guid"].get<std::string>() + "#" + std::to_string(file["index"].get<int>())] = file;
  return found;
}

TEST_F(DiffFiles, EachChangeKindWithBothPlacesAndTheSummary) {
  const Pair pair = BuildPair();
  const json report = Compare(pair.main, pair.backup);
  const std::map<std::string, json> files = ByGuidAndIndex(report["files"]);
  std::map<std::string, std::string> changes;
  for (const auto& [key, file] : files) changes[key] = file["change"];
  EXPECT_EQ(changes, (std::map<std::string, std::string>{{NameText(10) + "#0", "moved"},
                                                         {NameText(11) + "#0", "only in Main"},
                                                         {NameText(12) + "#0", "changed"},
                                                         {NameText(14) + "#0", "only in Backup"},
                                                         {NameText(21) + "#1", "changed"},
                                                         {NameText(22) + "#0", "only in Backup"}}));

  const json& moved = files.at(NameText(10) + "#0");
  EXPECT_EQ(moved["name"], "Plain");
  EXPECT_EQ(moved["path"], json::array({NameText(1)}));
  EXPECT_EQ(moved["backup"]["flash_offset"].get<uint64_t>() - moved["main"]["flash_offset"].get<uint64_t>(),
            (Driver(14, u"AddedOutside").size() + 7) / 8 * 8);
  EXPECT_EQ(moved["main"]["size"], moved["backup"]["size"]);

  const json& inner = files.at(NameText(21) + "#1");
  EXPECT_EQ(inner["path"], json::array({NameText(1), NameText(12), NameText(13)}));
  EXPECT_EQ(inner["compressed"], true);
  EXPECT_TRUE(inner["main"]["flash_offset"].is_null());
  EXPECT_EQ(inner["main"]["size"], inner["backup"]["size"]);
  EXPECT_FALSE(inner.contains("masked"));
  EXPECT_TRUE(files.at(NameText(11) + "#0")["backup"].is_null());
  EXPECT_TRUE(files.at(NameText(14) + "#0")["main"].is_null());
  EXPECT_EQ(files.at(NameText(22) + "#0")["name"], "AddedInside");

  // Ranges are placed in both layouts: where Main has driver 10, Backup
  // has its new first driver.
  bool bothPlaced = false;
  const json placed = Placed(report);
  for (const json& range : placed["differences"])
    bothPlaced = bothPlaced || (range["file"]["guid"] == NameText(10) && range["backup_file"]["guid"] == NameText(14));
  EXPECT_TRUE(bothPlaced) << placed["differences"];

  const json& summary = report["summary"];
  EXPECT_EQ(summary["files_changed"], 2);
  EXPECT_EQ(summary["files_moved"], 1);
  EXPECT_EQ(summary["files_only_in_main"], 1);
  EXPECT_EQ(summary["files_only_in_backup"], 2);
  EXPECT_EQ(summary["files_compressed"], 2);
  EXPECT_EQ(summary["differing_ranges"], report["differences"].size());
  EXPECT_EQ(report["verdict"]["result"], "FAIL");
}

TEST_F(DiffFiles, TheTextReportNamesTheDriversOnItsFirstScreen) {
  const Pair pair = BuildPair();
  const ProgramRun run = RunDiff({"--max-ranges=1", Path("MAIN.BIN", pair.main), Path("BACKUP.BIN", pair.backup)});
  EXPECT_EQ(run.status, 1) << run.err;
  std::string firstScreen;
  std::istringstream lines(run.out);
  std::string line;
  for (int i = 0; i < 24 && std::getline(lines, line); ++i) firstScreen += line + "\n";
  EXPECT_EQ(firstScreen.rfind("On-board verdict: FAIL", 0), 0u) << firstScreen;
  for (const char* expected : {"1 moved, 1 only in Main, 2 only in Backup", "Twin", "AddedInside", "Removed"})
    EXPECT_NE(firstScreen.find(expected), std::string::npos) << expected << "\n" << firstScreen;
  EXPECT_NE(run.out.find("more not shown (--max-ranges 1)"), std::string::npos);
}

TEST_F(DiffFiles, InfoListsEveryFileOfTheTreeInTheSameShape) {
  const Pair pair = BuildPair();
  const ProgramRun run = RunDiff({"--info", "--json", Path("BACKUP.BIN", pair.backup)});
  ASSERT_EQ(run.status, 0) << run.err;
  const json info = json::parse(run.out);
  const std::map<std::string, json> files = ByGuidAndIndex(info["files"]);
  EXPECT_EQ(files.size(), 7u);  // 14, 10, 12 outside; 20, 21 twice, 22 inside
  const json& outside = files.at(NameText(10) + "#0");
  EXPECT_EQ(outside["flash_offset"], (Driver(14, u"AddedOutside").size() + 7) / 8 * 8 + 0x78);
  EXPECT_EQ(outside["type_name"], "DRIVER");
  EXPECT_FALSE(outside.contains("change"));
  EXPECT_TRUE(files.at(NameText(20) + "#0")["flash_offset"].is_null());
  EXPECT_EQ(files.at(NameText(21) + "#1")["index"], 1);
}

// Listed apart and not counted as changed: a technician must not take the
// board's own serial for a changed driver.
TEST_F(DiffFiles, AFileDifferingOnlyInMaskedBytesIsListedApartAndMarkedMasked) {
  const ProbePart main = BuildProbePart(ProbeDescriptor(), 1);
  const ProbePart backup = BuildProbePart(ProbeDescriptor(), 2);
  const json report = Compare(main.bytes, backup.bytes);
  EXPECT_EQ(report["verdict"]["result"], "PASS");
  ASSERT_EQ(report["files"].size(), 1u) << report["files"];
  EXPECT_EQ(report["files"][0]["change"], "differs only in masked areas");
  EXPECT_EQ(report["files"][0]["masked"], true);
  EXPECT_EQ(report["summary"]["files_changed"], 0);
  EXPECT_EQ(report["summary"]["files_masked_only"], 1);
}

// A 128 KiB full-chip dump: Intel flash descriptor, ME region, then the BIOS
// region (one volume) on top; no identity descriptor.
Bytes FullChip(uint8_t meFill, const std::u16string& driverName) {
  Bytes part = BuildFlashDescriptor({{0, 0, 0xFFF}, {1, 0x10000, 0x1FFFF}, {2, 0x1000, 0xFFFF}});
  part.resize(0x20000, 0xFF);
  std::fill(part.begin() + 0x1000, part.begin() + 0x10000, meFill);
  sim::VolumeSpec volume;
  volume.files = {Driver(40, driverName)};
  const Bytes bios = sim::BuildVolume(volume);
  std::copy(bios.begin(), bios.end(), part.begin() + 0x10000);
  return part;
}

TEST_F(DiffFiles, AFlashDescriptorGivesTheBiosRegionAndNamesTheOthers) {
  const json report = Compare(FullChip(0x11, u"Same"), FullChip(0x22, u"Same"));
  EXPECT_EQ(report["geometry"]["bios_size"], 0x10000);
  EXPECT_EQ(report["verdict"]["result"], "PASS");
  EXPECT_TRUE(report["differences"].empty());
  ASSERT_FALSE(report["below_bios_region"].empty());
  const json placed = Placed(report);
  for (const json& range : placed["below_bios_region"]) EXPECT_EQ(range["region"], "Intel ME");

  const json changed = Compare(FullChip(0x11, u"Same"), FullChip(0x11, u"Other"));
  EXPECT_EQ(changed["verdict"]["result"], "FAIL");
  EXPECT_EQ(changed["files"][0]["name"], "Same");
  EXPECT_EQ(changed["files"][0]["main"]["flash_offset"], 0x10000 + 0x48);
}

TEST_F(DiffFiles, ABiosRegionOfPartBlocksFailsWithNotSupportedAndTheFilesAreStillListed) {
  const Pair pair = BuildPair();
  const json report = Compare(pair.main, pair.backup, {"--bios-size", "0x1F800", "--flash-size=0x20000"});
  EXPECT_EQ(report["verdict"]["result"], "FAIL");
  EXPECT_EQ(report["verdict"]["status"], 130);
  EXPECT_EQ(report["files"].size(), 6u);
}

}  // namespace
