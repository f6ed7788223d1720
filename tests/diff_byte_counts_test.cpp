// SPDX-License-Identifier: BSD-2-Clause-Patent
// Whole-file byte counts on the probe part: which area each differing byte
// is counted in, what a longer dump holds beyond the other, and the report's
// own bounds (--max-ranges beside --html, names in errors).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using sim::Bytes;
using namespace support;

class DiffByteCounts : public ::testing::Test {
 protected:
  std::string Path(const std::string& name, const Bytes& bytes) {
    WriteBytes(scratch_.path() / name, bytes);
    return (scratch_.path() / name).string();
  }
  static std::map<std::string, uint64_t> Areas(const json& whole) {
    std::map<std::string, uint64_t> areas;
    for (const json& area : whole["areas"]) areas[area["area"]] = area["differing_bytes"];
    return areas;
  }
  TempDir scratch_;
};

Bytes BiosRegion(const ProbePart& part) { return Bytes(part.bytes.begin() + ProbePart::kBiosStart, part.bytes.end()); }

// A raw file the descriptor's area table masks, placed after the driver.
sim::Bytes TagFile(uint32_t seed) {
  sim::FileSpec spec;
  spec.name = NumberedGuid(0x7A690000, 1);
  spec.type = sim::kFileTypeRaw;
  spec.body = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(16, seed));
  return sim::BuildFile(spec);
}

// Catches: a difference counted into the area listed last instead of its
// own. Masked (variable store), window (driver), masked (a second area
// file): the second masked run must join the first.
TEST_F(DiffByteCounts, EachDifferenceIsCountedInItsOwnArea) {
  sim::DescriptorSpec descriptor = ProbeDescriptor();
  descriptor.areas.push_back({"$TAG", 16, NumberedGuid(0x7A690000, 1)});
  const ProbePart main = BuildProbePart(descriptor, 1, "1", {TagFile(1)});
  ProbePart backup = BuildProbePart(descriptor, 1, "2", {TagFile(2)});
  backup.bytes[backup.driverData] ^= 0x01;
  const json whole = DiffJson(Path("M.BIN", main.bytes), Path("B.BIN", backup.bytes))["summary"]["whole_files"];
  const std::map<std::string, uint64_t> areas = Areas(whole);
  ASSERT_EQ(areas.size(), 2u) << whole;
  EXPECT_EQ(areas.at("BIOS window the board compares"), 1u) << whole;
  EXPECT_GT(areas.at("masked areas"), 16u) << whole;
  EXPECT_EQ(areas.at("masked areas"), whole["differing_bytes"].get<uint64_t>() - 1) << whole;
  EXPECT_EQ(whole["areas"][0]["area"], "masked areas") << whole;
}

// Catches: the whole-file count, which reads eight bytes at a time, missing
// a byte that differs only in its top bit or only in its low bits.
TEST_F(DiffByteCounts, EveryDifferingBitPatternCountsOneByte) {
  const ProbePart main = BuildProbePart(ProbeDescriptor(), 1, "1");
  ProbePart backup = main;
  const uint8_t flips[] = {0x80, 0x01, 0x7F, 0xFF, 0x40, 0x80};
  for (size_t i = 0; i < sizeof flips; ++i) backup.bytes[backup.driverData + i * 3] ^= flips[i];
  const json whole = DiffJson(Path("M.BIN", main.bytes), Path("B.BIN", backup.bytes))["summary"]["whole_files"];
  EXPECT_EQ(whole["differing_bytes"], sizeof flips) << whole;
  EXPECT_EQ(Areas(whole)["BIOS window the board compares"], sizeof flips) << whole;
}

// Catches: the board's window and masks left at the part's offsets when the
// dumps are BIOS regions only, so their bytes read "outside the BIOS window".
TEST_F(DiffByteCounts, BiosRegionDumpsAreCountedInTheBoardsAreas) {
  const ProbePart main = BuildProbePart(ProbeDescriptor(), 1, "1");
  ProbePart backup = BuildProbePart(ProbeDescriptor(), 2, "1");
  backup.bytes[ProbePart::kVolume] ^= 0x01;
  const json whole =
      DiffJson(Path("M.BIN", BiosRegion(main)), Path("B.BIN", BiosRegion(backup)))["summary"]["whole_files"];
  std::map<std::string, uint64_t> areas = Areas(whole);
  EXPECT_EQ(areas.count("outside the BIOS window"), 0u) << whole;
  EXPECT_EQ(areas["BIOS window the board compares"], 1u) << whole;
  EXPECT_GT(areas["masked areas"], 0u) << whole;
}

// Catches: erased bytes (0xFF) beyond the shorter dump counted as not
// erased, and two files of different lengths called identical because the
// bytes they share are. Both orders; three written bytes among the erased.
TEST_F(DiffByteCounts, BytesBeyondTheShorterDumpAreCountedAndNeverIdentical) {
  const Bytes region = BiosRegion(BuildProbePart());
  for (const size_t written : {size_t(0), size_t(3)}) {
    Bytes padded(region.size(), 0xFF);
    for (size_t i = 0; i < written; ++i) padded[0x100 * (i + 1)] = 0x00;
    padded.insert(padded.end(), region.begin(), region.end());
    const std::string shortFile = Path("SHORT.BIN", region);
    const std::string longFile = Path("LONG.BIN", padded);
    for (const auto& [a, b] : {std::pair{shortFile, longFile}, std::pair{longFile, shortFile}}) {
      SCOPED_TRACE(std::to_string(written) + " written, " + a);
      const json whole = DiffJson(a, b)["summary"]["whole_files"];
      EXPECT_EQ(whole["identical"], false);
      EXPECT_EQ(whole["differing_bytes"], 0);
      EXPECT_EQ(whole["length_difference"]["bytes"], region.size());
      EXPECT_EQ(whole["length_difference"]["not_erased"], written);
      EXPECT_EQ(RunDiff({"--strict", a, b}).status, 1);
    }
  }
}

// Catches: the text report listing every range below the BIOS region when
// --html makes the comparison keep more of them than --max-ranges asks.
TEST_F(DiffByteCounts, MaxRangesBoundsTheTextBesideThePage) {
  const ProbePart main = BuildProbePart();
  Bytes backup = main.bytes;
  for (size_t at : {0x100, 0x200, 0x300}) backup[at] ^= 0x5A;
  const ProgramRun run = RunDiff({"--max-ranges", "1", "--html", (scratch_.path() / "page.html").string(),
                                  Path("M.BIN", main.bytes), Path("B.BIN", backup)});
  ASSERT_LE(run.status, 1) << run.err;
  const size_t section = run.out.find("Below the BIOS region");
  ASSERT_NE(section, std::string::npos) << run.out;
  const std::string below = run.out.substr(section, run.out.find("\n\n", section) - section);
  EXPECT_NE(below.find("flash 0x100 "), std::string::npos) << below;
  EXPECT_EQ(below.find("flash 0x200 "), std::string::npos) << below;
  EXPECT_NE(below.find("2 more not shown"), std::string::npos) << below;
}

// Catches: the name of a file that exists but cannot be a dump reaching
// standard error unescaped (a missing file is refused earlier, and escaped).
TEST_F(DiffByteCounts, TheNameOfAnExistingShortFileIsEscaped) {
  const std::string name = Path("S\nB\x1b[2J\r", Bytes(100, 0xFF));
  const ProgramRun run = RunDiff({name, name});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find("S\\x0AB\\x1B[2J\\x0D: 100 bytes, shorter than one block"), std::string::npos) << run.err;
}

}  // namespace
