// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff on saved chips: the builder's probe part, the sample board's
// chips as `/s` saves them and real OVMF images. Every verdict is checked
// against the simulated board's comparison test on the same two files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/diff_support.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using support::BuildProbePart;
using support::DiffJson;
using support::ProbePart;
using support::TempDir;
using support::WriteBytes;

std::string GuidText(const sim::Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

class DiffTool : public ::testing::Test {
 protected:
  std::filesystem::path Save(const std::string& name, const sim::Bytes& bytes) {
    const std::filesystem::path path = scratch_.path() / name;
    WriteBytes(path, bytes);
    return path;
  }

  // The diff's report, after checking that its verdict is the one the
  // board's comparison test reaches on the same files.
  json CompareLikeTheBoard(const sim::Bytes& main, const sim::Bytes& backup, uint64_t biosSize,
                           std::vector<std::string> options = {}) {
    const auto mainPath = Save("MAIN.BIN", main);
    const auto backupPath = Save("BACKUP.BIN", backup);
    json report = support::Placed(DiffJson(mainPath, backupPath, options));
    const support::BoardVerdict board = support::RunBoardComparison(mainPath, backupPath, biosSize);
    EXPECT_EQ(report["verdict"]["status"], board.status);
    if (board.address) {
      EXPECT_EQ(report["verdict"]["address"], *board.address);
    } else {
      EXPECT_TRUE(report["verdict"]["address"].is_null());
    }
    return report;
  }

  TempDir scratch_;
};

uint32_t Window(uint32_t flashSize, uint32_t flashOffset) { return uint32_t(0x100000000ull - flashSize + flashOffset); }

TEST_F(DiffTool, CopiesOfOneDumpAgree) {
  const ProbePart part = BuildProbePart();
  json report = CompareLikeTheBoard(part.bytes, part.bytes, ProbePart::kBiosSize);
  EXPECT_EQ(report["verdict"],
            (json{{"result", "PASS"}, {"status", 128}, {"status_name", "Success"}, {"address", nullptr}}));
  EXPECT_EQ(report["differences"], json::array());
  EXPECT_EQ(report["below_bios_region"], json::array());
  for (const json& dump : report["dumps"]) {
    EXPECT_EQ(dump["identity"]["model_name"], "PELLRIX DIFF PROBE");
    EXPECT_EQ(dump["identity"]["bios_size"], ProbePart::kBiosSize);
    EXPECT_EQ(dump["whole_part"], true);
    EXPECT_EQ(dump["descriptor"]["flash_offset"], part.descriptor);
    for (const json& masked : dump["masked"]) EXPECT_FALSE(masked["differs"]) << masked;
  }
  // Catches the layout copies share (Backup's tree is not walked for them)
  // drifting from a walk: it is the layout Main's walk gives when Backup
  // differs.
  sim::Bytes other = part.bytes;
  other[other.size() / 2] ^= 0x5A;
  const json walked = DiffJson(Save("MAIN.BIN", part.bytes), Save("OTHER.BIN", other));
  EXPECT_FALSE(walked["dumps"][0]["layout"]["files"].empty());
  EXPECT_EQ(report["dumps"][1]["layout"], walked["dumps"][0]["layout"]);
  EXPECT_EQ(report["dumps"][0]["layout"], walked["dumps"][0]["layout"]);
}

TEST_F(DiffTool, DifferencesOnlyInMaskedAreasPassAndAreListed) {
  const ProbePart main = BuildProbePart(support::ProbeDescriptor(), 1, "1");
  sim::DescriptorSpec chipArea = support::ProbeDescriptor();
  chipArea.chip_area.fill(0x5A);
  const ProbePart backup = BuildProbePart(chipArea, 2, "2");
  json report = CompareLikeTheBoard(main.bytes, backup.bytes, ProbePart::kBiosSize);
  EXPECT_EQ(report["verdict"]["result"], "PASS");
  EXPECT_EQ(report["differences"], json::array());

  const json& masked = report["dumps"][0]["masked"];
  auto find = [&](const std::string& what) {
    for (const json& m : masked)
      if (m["what"] == what) return m;
    return json();
  };
  EXPECT_EQ(find("variable store")["flash_offset"], ProbePart::kBiosStart);
  EXPECT_EQ(find("variable store")["length"], 2 * ProbePart::kStoreLength);
  EXPECT_EQ(find("variable store")["differs"], true);
  EXPECT_EQ(find("chip area")["flash_offset"], main.descriptor + 160);
  EXPECT_EQ(find("chip area")["differs"], true);
  EXPECT_EQ(find("area file")["file"], GuidText(ProbePart::SerialName()));
  EXPECT_EQ(find("area file")["flash_offset"], main.serialBody);
  EXPECT_EQ(find("area file")["differs"], true);

  // --no-mask shows what the masks hid, placed like any other difference.
  json raw = DiffJson(scratch_.path() / "MAIN.BIN", scratch_.path() / "BACKUP.BIN", {"--no-mask"});
  EXPECT_EQ(raw["verdict"]["result"], "PASS");
  bool serialSeen = false;
  const json placed = support::Placed(raw);
  for (const json& d : placed["masked_differences"])
    if (d["kind"] == "file" && d["file"]["guid"] == GuidText(ProbePart::SerialName())) serialSeen = true;
  EXPECT_TRUE(serialSeen) << placed["masked_differences"];
}

TEST_F(DiffTool, EachDifferenceIsNamedByItsPlace) {
  const ProbePart part = BuildProbePart();
  struct Case {
    const char* kind;
    uint32_t offset;
    uint32_t length;
  };
  // In the header, a byte up and another one down keep its 16-bit sum, so
  // the locator still accepts the volume: Reserved and the block count.
  const uint32_t header = ProbePart::kVolume + 54;
  for (const Case& c : {Case{"file", part.driverData, 1}, Case{"volume header", header, 3},
                        Case{"free space", part.freeSpace + 0x40, 1},
                        Case{"padding", part.serialBody + 16, 1}}) {  // the serial file is 44 bytes long
    SCOPED_TRACE(c.kind);
    sim::Bytes changed = part.bytes;
    changed[c.offset] += 1;
    if (c.length > 1) changed[c.offset + c.length - 1] -= 1;
    json report = CompareLikeTheBoard(part.bytes, changed, ProbePart::kBiosSize);
    ASSERT_EQ(report["differences"].size(), 1u) << report["differences"];
    const json& d = report["differences"][0];
    EXPECT_EQ(d["kind"], c.kind);
    EXPECT_EQ(d["flash_offset"], c.offset);
    EXPECT_EQ(d["window_address"], Window(ProbePart::kFlashSize, c.offset));
    EXPECT_EQ(d["length"], c.length);
    EXPECT_EQ(d["volume"]["flash_offset"], ProbePart::kVolume);
    EXPECT_EQ(d["volume"]["name"], GuidText(ProbePart::VolumeName()));
    EXPECT_EQ(report["verdict"]["status"], 142);
    EXPECT_EQ(report["verdict"]["address"], Window(ProbePart::kFlashSize, c.offset & ~0xFFFu));
  }
  sim::Bytes changed = part.bytes;
  changed[part.driverData] ^= 0x01;
  const json file = CompareLikeTheBoard(part.bytes, changed, ProbePart::kBiosSize)["differences"][0]["file"];
  EXPECT_EQ(file["guid"], GuidText(ProbePart::DriverName()));
  EXPECT_EQ(file["type_name"], "DRIVER");
  EXPECT_EQ(file["name"], "DiffProbe");
  EXPECT_EQ(file["flash_offset"], part.driver);
}

TEST_F(DiffTool, NearbyDifferencesMergeAndDistantOnesStaySeparate) {
  const ProbePart part = BuildProbePart();
  sim::Bytes changed = part.bytes;
  for (uint32_t at : {0u, 10u, 20u, 100u}) changed[part.driverData - 0x200 + at] ^= 0xFF;
  json report = CompareLikeTheBoard(part.bytes, changed, ProbePart::kBiosSize);
  ASSERT_EQ(report["differences"].size(), 2u);
  EXPECT_EQ(report["differences"][0]["length"], 21);
  EXPECT_EQ(report["differences"][0]["differing_bytes"], 3);
  EXPECT_EQ(report["differences"][1]["flash_offset"], part.driverData - 0x200 + 100);
}

TEST_F(DiffTool, DifferencesBelowTheBiosRegionAreListedApartAndDoNotFail) {
  const ProbePart part = BuildProbePart();
  sim::Bytes changed = part.bytes;
  changed[0x100] ^= 0x80;
  changed[0x101] ^= 0x80;
  json report = CompareLikeTheBoard(part.bytes, changed, ProbePart::kBiosSize);
  EXPECT_EQ(report["verdict"]["result"], "PASS");
  EXPECT_EQ(report["differences"], json::array());
  ASSERT_EQ(report["below_bios_region"].size(), 1u);
  EXPECT_EQ(report["below_bios_region"][0]["flash_offset"], 0x100);
  EXPECT_EQ(report["below_bios_region"][0]["length"], 2);
  EXPECT_EQ(report["below_bios_region"][0]["kind"], "below BIOS region");
}

TEST_F(DiffTool, DifferentBoardsFailTheIdentityChecksWithTheBoardsStatus) {
  const ProbePart main = BuildProbePart();
  struct Case {
    const char* what;
    void (*change)(sim::DescriptorSpec&);
    int status;
  };
  const Case cases[] = {
      {"model and version",
       [](sim::DescriptorSpec& d) {
         d.model_name = "OTHER BOARD";
         d.version = "0200";
       },
       140},
      {"part number", [](sim::DescriptorSpec& d) { d.part_number = "PX200B02"; }, 141},
      {"block size", [](sim::DescriptorSpec& d) { d.block_size = 0x10000; }, 137},
      {"BIOS size", [](sim::DescriptorSpec& d) { d.bios_size = 0x8000; }, 138},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::DescriptorSpec other = support::ProbeDescriptor();
    c.change(other);
    json report = CompareLikeTheBoard(main.bytes, BuildProbePart(other).bytes, ProbePart::kBiosSize);
    EXPECT_EQ(report["verdict"]["result"], "FAIL");
    EXPECT_EQ(report["verdict"]["status"], c.status);
    EXPECT_TRUE(report["verdict"]["address"].is_null());
    EXPECT_EQ(report["checks"][0]["result"], "not in a dump");
  }
}

TEST_F(DiffTool, BiosRegionFileComparesWithWholePart) {
  const ProbePart part = BuildProbePart();
  sim::Bytes changed = part.bytes;
  changed[part.driverData] ^= 0x01;
  const sim::Bytes region(changed.begin() + ProbePart::kBiosStart, changed.end());
  const json whole = CompareLikeTheBoard(part.bytes, changed, ProbePart::kBiosSize);
  const json mixed = support::Placed(DiffJson(Save("MAIN.BIN", part.bytes), Save("REGION.BIN", region)));
  EXPECT_EQ(mixed["verdict"], whole["verdict"]);
  EXPECT_EQ(mixed["differences"], whole["differences"]);
  EXPECT_EQ(mixed["dumps"][1]["whole_part"], false);
  EXPECT_TRUE(mixed["below_bios_region"].is_null());
  // The other way round: the region alone decides the geometry.
  const json reversed = DiffJson(scratch_.path() / "REGION.BIN", scratch_.path() / "MAIN.BIN");
  EXPECT_EQ(reversed["verdict"], whole["verdict"]);
}

TEST_F(DiffTool, BlockSizeOptionMovesTheFailAddress) {
  const ProbePart part = BuildProbePart();
  sim::Bytes changed = part.bytes;
  changed[part.driverData] ^= 0x01;
  const auto mainPath = Save("MAIN.BIN", part.bytes);
  const auto backupPath = Save("BACKUP.BIN", changed);
  const json report = DiffJson(mainPath, backupPath, {"--block-size", "0x4000"});
  EXPECT_EQ(report["geometry"]["block_size"], 0x4000);
  const support::BoardVerdict board = support::RunBoardComparison(mainPath, backupPath, ProbePart::kBiosSize, 0x4000);
  EXPECT_EQ(report["verdict"]["status"], board.status);
  ASSERT_TRUE(board.address.has_value());
  EXPECT_EQ(report["verdict"]["address"], *board.address);
  EXPECT_EQ(*board.address, Window(ProbePart::kFlashSize, part.driverData & ~0x3FFFu));
}

// A BIOS region that is not a whole number of the board's blocks is never
// passed, on the board nor by pellrix-diff given that block size: FAIL, 130,
// exit 1, with the differences still listed.
TEST_F(DiffTool, ARegionOfPartBlocksFailsLikeTheBoard) {
  const ProbePart part = BuildProbePart();
  sim::Bytes changed = part.bytes;
  changed.back() ^= 0x01;  // the region's last byte, which whole blocks would not reach
  const auto mainPath = Save("MAIN.BIN", part.bytes);
  const auto backupPath = Save("BACKUP.BIN", changed);
  for (uint32_t blockSize : {0x3000u, 0x20000u, 0x40000000u}) {
    SCOPED_TRACE(blockSize);
    const support::BoardVerdict board =
        support::RunBoardComparison(mainPath, backupPath, ProbePart::kBiosSize, blockSize);
    EXPECT_EQ(board.status, 130);
    const std::string size = std::to_string(blockSize);
    // The whole geometry, as the board's mailbox reports it (a dump alone
    // cannot be shorter than a block).
    const support::ProgramRun run = support::RunDiff(
        {"--json", "--block-size", size, "--bios-size", std::to_string(ProbePart::kBiosSize), "--flash-size",
         std::to_string(ProbePart::kFlashSize), mainPath.string(), backupPath.string()});
    EXPECT_EQ(run.status, 1) << run.err;
    const json report = json::parse(run.out);
    EXPECT_EQ(report["verdict"]["result"], "FAIL");
    EXPECT_EQ(report["verdict"]["status"], board.status);
    EXPECT_EQ(report["differences"].size(), 1u);
  }
}

// A run of differing bytes is closed where it ends, also when it ends on the
// last byte of the comparison's 4 KiB chunk.
TEST_F(DiffTool, ADifferenceOnAChunksLastByteIsOneRange) {
  const ProbePart part = BuildProbePart();
  sim::Bytes changed = part.bytes;
  // The last byte of the 4 KiB chunk (counted from the region's start) that
  // holds the driver's data, outside every masked area.
  const uint32_t lastOfChunk = ProbePart::kBiosStart + ((part.driverData - ProbePart::kBiosStart) | 0xFFFu);
  changed[lastOfChunk] ^= 0x01;
  const json report = DiffJson(Save("MAIN.BIN", part.bytes), Save("BACKUP.BIN", changed));
  ASSERT_EQ(report["differences"].size(), 1u);
  EXPECT_EQ(report["differences"][0]["flash_offset"], lastOfChunk);
  EXPECT_EQ(report["differences"][0]["length"], 1);
}

TEST_F(DiffTool, TroubleIsExitStatusTwoWithOneLineNamingTheFile) {
  const auto present = Save("MAIN.BIN", BuildProbePart().bytes);
  const auto empty = Save("EMPTY.BIN", {});
  const std::filesystem::path missing = scratch_.path() / "MISSING.BIN";
  for (const auto& [arguments, named] :
       {std::pair{std::vector<std::string>{present.string(), missing.string()}, missing.string()},
        std::pair{std::vector<std::string>{empty.string(), present.string()}, empty.string()},
        std::pair{std::vector<std::string>{"--info", scratch_.path().string()}, scratch_.path().string()}}) {
    const support::ProgramRun run = support::RunDiff(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  EXPECT_EQ(support::RunDiff({present.string()}).status, 2);
  EXPECT_EQ(support::RunDiff({"--block-size", "0", present.string(), present.string()}).status, 2);
}

TEST_F(DiffTool, GarbageAndTruncatedDumpsAreReportedNotCrashedOn) {
  const ProbePart part = BuildProbePart();
  const sim::Bytes truncated(part.bytes.begin() + 0x1234, part.bytes.end() - 0x777);
  const sim::Bytes garbage = sim::PseudoRandomBytes(0x12345, 9);
  const auto whole = Save("MAIN.BIN", part.bytes);
  for (const sim::Bytes* other : {&truncated, &garbage}) {
    const auto path = Save("OTHER.BIN", *other);
    for (const auto& [a, b] : {std::pair{whole, path}, std::pair{path, whole}}) {
      const json report = DiffJson(a, b);
      EXPECT_EQ(report["verdict"]["result"], "FAIL");
      EXPECT_FALSE(report["differences"].empty());
    }
    // Garbage as Main has no volumes to place its differences in.
    if (other == &garbage) {
      const json report = support::Placed(DiffJson(path, whole));
      for (const json& d : report["differences"]) {
        EXPECT_EQ(d["kind"], "outside volumes");
      }
    }
    EXPECT_EQ(support::RunDiff({"--info", path.string()}).status, 0);
  }
}

TEST_F(DiffTool, InfoDescribesTheDescriptorVolumesFilesAndMasks) {
  const ProbePart part = BuildProbePart();
  const support::ProgramRun run = support::RunDiff({"--info", Save("MAIN.BIN", part.bytes).string()});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string& expected :
       {std::string("whole part"), std::string("PELLRIX DIFF PROBE"), GuidText(ProbePart::VolumeName()),
        GuidText(ProbePart::DriverName()) + " DRIVER \"DiffProbe\"", std::string("area 0: $SSN"),
        std::string("variable store: flash 0x10000 length 0x4000"), std::string("chip area: flash ")})
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
}

// The sample board's chips, saved with /s as a technician would.
class DiffToolOnSavedChips : public DiffTool {
 protected:
  void SetUp() override {
    for (const char* which : {"1", "2"}) {
      const support::ProgramRun save =
          support::RunProgram(PELLRIX_SIM_PATH, {"--dir", scratch_.str(), "--", "/s", which});
      ASSERT_EQ(save.status, 128) << save.out;
    }
    main_ = support::ReadFileBytes(scratch_.path() / "MAIN.BIN");
    backup_ = support::ReadFileBytes(scratch_.path() / "BACKUP.BIN");
    ASSERT_EQ(main_.size(), sim::SampleLayout::kFlashSize);
  }
  sim::Bytes main_, backup_;
};

TEST_F(DiffToolOnSavedChips, ChipsOfOneBoardPassWithTheirMaskedDifferencesListed) {
  json report = CompareLikeTheBoard(main_, backup_, sim::SampleLayout::kBiosSize);
  EXPECT_EQ(report["verdict"]["result"], "PASS");
  EXPECT_EQ(report["differences"], json::array());
  for (const json& dump : report["dumps"]) EXPECT_EQ(dump["checksums_ok"], true);
  int differing = 0;
  for (const json& masked : report["dumps"][1]["masked"]) differing += masked["differs"].get<bool>();
  EXPECT_GE(differing, 3);  // variable store, chip area, serial number
}

TEST_F(DiffToolOnSavedChips, ChangedModuleIsNamedAndFailsWhereTheBoardFails) {
  sim::Bytes changed = backup_;
  const uint32_t at = sim::SampleLayout::kDxeVolume + 0x123456;
  changed[at] ^= 0x20;
  json report = CompareLikeTheBoard(main_, changed, sim::SampleLayout::kBiosSize);
  ASSERT_EQ(report["differences"].size(), 1u);
  const json& d = report["differences"][0];
  EXPECT_EQ(d["kind"], "file");
  EXPECT_EQ(d["flash_offset"], at);
  EXPECT_EQ(d["volume"]["flash_offset"], sim::SampleLayout::kDxeVolume);
  EXPECT_LE(d["file"]["flash_offset"].get<uint32_t>(), at);
  EXPECT_GT(d["file"]["flash_offset"].get<uint32_t>() + d["file"]["size"].get<uint32_t>(), at);
  EXPECT_EQ(report["dumps"][1]["checksums_ok"], false);
}

// OVMF's variable store and code volumes laid out as one 4 MiB flash.
class DiffToolOnOvmf : public DiffTool {
 protected:
  static sim::Bytes Load(const char* variable, const char* fallback) {
    const char* env = std::getenv(variable);
    std::ifstream in(env != nullptr ? env : fallback, std::ios::binary);
    return sim::Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void SetUp() override {
    image_ = Load("PELLRIX_OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd");
    const sim::Bytes code = Load("PELLRIX_OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd");
    if (image_.empty() || code.empty()) GTEST_SKIP() << "OVMF 4M images not installed (package ovmf)";
    ASSERT_EQ(image_.size(), kVarsSize);
    image_.insert(image_.end(), code.begin(), code.end());
    ASSERT_EQ(image_.size(), 0x400000u);
  }
  static constexpr uint32_t kVarsSize = 0x84000;
  static constexpr uint32_t kMainVolume = kVarsSize;
  static constexpr uint32_t kMainFreeSpace = kVarsSize + 0x171088;
  static constexpr uint32_t kSecVolume = kVarsSize + 0x348000;
  sim::Bytes image_;
};

TEST_F(DiffToolOnOvmf, CopiesAgreeAndNothingIsMasked) {
  json report = CompareLikeTheBoard(image_, image_, image_.size());
  EXPECT_EQ(report["verdict"]["result"], "PASS");
  EXPECT_EQ(report["dumps"][0]["masked"], json::array());
  EXPECT_EQ(report["dumps"][0]["checksums_ok"], nullptr);
  // OVMF's store holds authenticated variables: VSS2, not VSS.
  EXPECT_EQ(report["dumps"][0]["variable_stores"][0]["format"], "VSS2");
}

TEST_F(DiffToolOnOvmf, VariableStoreHeaderFreeSpaceAndSecMainAreNamed) {
  struct Case {
    const char* kind;
    uint32_t offset;
    uint32_t volume;
  };
  for (const Case& c :
       {Case{"variable store", 0x2000, 0}, Case{"volume header", kMainVolume + 0x30 + 2, kMainVolume},
        Case{"free space", kMainFreeSpace + 0x1000, kMainVolume}, Case{"file", kSecVolume + 0x1000, kSecVolume}}) {
    SCOPED_TRACE(c.kind);
    sim::Bytes changed = image_;
    changed[c.offset] ^= 0x04;
    json report = CompareLikeTheBoard(image_, changed, image_.size());
    ASSERT_EQ(report["differences"].size(), 1u);
    const json& d = report["differences"][0];
    EXPECT_EQ(d["kind"], c.kind);
    EXPECT_EQ(d["volume"]["flash_offset"], c.volume);
    EXPECT_EQ(report["verdict"]["status"], 142);
  }
  sim::Bytes changed = image_;
  changed[0x2000] ^= 0x04;
  json store = CompareLikeTheBoard(image_, changed, image_.size())["differences"][0]["volume"];
  EXPECT_EQ(store["file_system"], "FFF12B8D-7696-4C8B-A985-2747075B4F50");
  EXPECT_EQ(store["variable_store"], true);
  changed = image_;
  changed[kSecVolume + 0x1000] ^= 0x04;
  json sec = CompareLikeTheBoard(image_, changed, image_.size())["differences"][0]["file"];
  EXPECT_EQ(sec["name"], "SecMain");
  EXPECT_EQ(sec["type_name"], "SECURITY_CORE");
}

}  // namespace
