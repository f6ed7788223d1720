// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff places every differing byte where it lies in both layouts and
// counts what it lists: each case is a fault that once changed what a user
// sees without failing a test.
#include <gtest/gtest.h>

#include <sstream>

#include "diff/compare/chip_dump.h"
#include "diff/report/file_json.h"
#include "fwtree/guid.h"
#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using sim::Bytes;
using namespace support;

sim::Guid Name(uint32_t n) { return NumberedGuid(0xB1AC0000, n); }
std::string NameText(uint32_t n) { return NumberedGuidText(0xB1AC0000, n); }

Bytes RawFile(uint32_t n, const Bytes& body) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.type = sim::kFileTypeRaw;
  spec.body = body;
  return sim::BuildFile(spec);
}

Bytes NamedDriver(uint32_t n, const std::u16string& name, uint32_t seed) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.body = Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(600, seed)), UiSection(name)});
  return sim::BuildFile(spec);
}

Bytes Volume(const std::vector<Bytes>& files) {
  sim::VolumeSpec spec;
  spec.length = 0x8000;
  spec.files = files;
  return sim::BuildVolume(spec);
}

class DiffPlacement : public ::testing::Test {
 protected:
  std::string Path(const std::string& name, const Bytes& bytes) {
    WriteBytes(scratch_.path() / name, bytes);
    return (scratch_.path() / name).string();
  }
  json Compare(const Bytes& main, const Bytes& backup, std::vector<std::string> options = {}) {
    return Placed(DiffJson(Path("MAIN.BIN", main), Path("BACKUP.BIN", backup), options));
  }
  TempDir scratch_;
};

// Main holds one raw file where Backup holds two: a range in each of
// Backup's files must name its own (a cache of the shared part of a range
// keyed on Main's file alone names the first for both).
TEST_F(DiffPlacement, TwoRangesInOneMainFileNameTheirOwnBackupFiles) {
  const Bytes first = RawFile(1, Bytes(0x400 - 24, 0x5A));
  const Bytes second = RawFile(2, Bytes(0x400 - 24, 0xA5));
  std::vector<size_t> offsets;
  const Bytes backup = sim::BuildVolume(
      [&] {
        sim::VolumeSpec spec;
        spec.length = 0x8000;
        spec.files = {first, second};
        return spec;
      }(),
      &offsets);
  // Main's one file holds Backup's bytes after its own header, but for one
  // byte in the body of Backup's second file.
  Bytes body(backup.begin() + long(offsets[0] + 24), backup.begin() + long(offsets[0] + 0x800));
  body[0x400 + 0x100 - 24] ^= 0xFF;
  const Bytes main = Volume({RawFile(3, body)});

  const json report = Compare(main, backup, {"--bios-size", "0x8000"});
  const json& ranges = report["differences"];
  ASSERT_EQ(ranges.size(), 2u) << ranges;
  for (const json& range : ranges) EXPECT_EQ(range["file"]["guid"], NameText(3));
  EXPECT_EQ(ranges[0]["backup_file"]["guid"], NameText(1));
  EXPECT_EQ(ranges[1]["backup_file"]["guid"], NameText(2));
}

// The summary counts differing bytes, not the lengths of the ranges that
// gather them; names from a dump are escaped in JSON as in text.
TEST_F(DiffPlacement, TheSummaryCountsDifferingBytesAndFileNamesAreEscaped) {
  const Bytes main = Volume({NamedDriver(4, u"Esc\x1b[31mRed", 1)});
  Bytes backup = main;
  const size_t at = 0x200;
  backup[at] ^= 1;
  backup[at + 10] ^= 1;  // close enough to gather into one range of 11 bytes
  sim::FixFileChecksums(backup.data() + 0x48);
  const json report = Compare(main, backup, {"--bios-size", "0x8000"});
  uint64_t listed = 0;
  for (const json& range : report["differences"]) listed += range["differing_bytes"].get<uint64_t>();
  EXPECT_EQ(report["summary"]["differing_bytes"], listed);
  EXPECT_LT(listed, 16u) << report["differences"];
  ASSERT_FALSE(report["files"].empty());
  EXPECT_EQ(report["files"][0]["name"], "Esc\\x1B[31mRed");
  EXPECT_EQ(report["differences"].back()["file"]["name"], "Esc\\x1B[31mRed");
}

// A whole part with an Intel flash descriptor, and its BIOS region saved
// alone: files match by flash offset, not by offset in their file, so
// nothing has moved or changed; the ME region's many differences obey
// --max-ranges in the text.
TEST_F(DiffPlacement, ABiosRegionAgainstItsWholePartAndTheRegionsBelowIt) {
  auto part = [](uint8_t meSeed) {
    Bytes bytes = BuildFlashDescriptor({{0, 0, 0xFFF}, {1, 0x10000, 0x1FFFF}, {2, 0x1000, 0xFFFF}});
    bytes.resize(0x20000, 0xFF);
    for (size_t i = 0x1000; i < 0x10000; i += 64) bytes[i] = uint8_t(meSeed + i / 64);
    const Bytes bios = Volume({NamedDriver(5, u"Same", 7), NamedDriver(6, u"Also", 8)});
    std::copy(bios.begin(), bios.end(), bytes.begin() + 0x10000);
    std::fill(bytes.begin() + 0x10000 + long(bios.size()), bytes.end(), 0xFF);
    return bytes;
  };
  const Bytes whole = part(1);
  const Bytes region(whole.begin() + 0x10000, whole.end());
  for (const auto& [main, backup] : {std::pair{whole, region}, std::pair{region, whole}}) {
    const json report = Compare(main, backup, {"--flash-size", "0x20000", "--bios-size", "0x10000"});
    EXPECT_TRUE(report["files"].empty()) << report["files"];
    EXPECT_EQ(report["verdict"]["result"], "PASS");
  }

  const ProgramRun run = RunDiff({"--max-ranges=1", Path("A.BIN", whole), Path("B.BIN", part(2))});
  EXPECT_EQ(run.status, 0) << run.err;
  const size_t below = run.out.find("Below the BIOS region");
  ASSERT_NE(below, std::string::npos);
  std::istringstream lines(run.out.substr(below));
  std::string heading, shown, leftOut;
  std::getline(lines, heading);
  std::getline(lines, shown);
  std::getline(lines, leftOut);
  EXPECT_NE(shown.find("Intel ME region"), std::string::npos) << shown;
  EXPECT_NE(leftOut.find("more not shown (--max-ranges 1)"), std::string::npos) << leftOut;
}

// The layout's file entries are formatted by hand for speed: each must be
// exactly the text the JSON library writes for the same file (names,
// versions, compressed files, a file below a smaller part).
TEST(DiffLayoutText, FileEntriesAreWhatTheJsonLibraryWrites) {
  pdiff::ChipDump dump;
  std::string problem;
  ASSERT_TRUE(dump.Load(std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+deb12u1.fd", &problem))
      << problem;
  size_t checked = 0;
  for (const pdiff::Geometry& geometry :
       {pdiff::Geometry{dump.fileSize(), dump.fileSize(), 4096}, pdiff::Geometry{0x100000, 0x100000, 4096}}) {
    for (const fwtree::TreeFile& file : dump.tree().files) {
      json expected = pdiff::FileNameJson(file);
      expected.update(pdiff::FilePlaceJson(geometry, dump, &file));
      ASSERT_EQ(pdiff::FileEntryText(geometry, dump, file), expected.dump()) << fwtree::GuidText(file.guid);
      ++checked;
    }
  }
  EXPECT_GT(checked, 200u);
}

}  // namespace
