// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff's causes on pairs of known truth built from real firmware:
// blocks erased on a chosen chip, bits set or cleared, a variable written,
// the volume of drivers taken from the next build of the same firmware.
// Each cause is found with its chip and counts, and nothing else is claimed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

#include "diff/compare/comparison.h"
#include "image/flash_causes.h"
#include "tests/support/diff_support.h"
#include "tests/support/sim_support.h"

namespace {

using namespace pdiff;
using Bytes = std::vector<uint8_t>;

Bytes Ovmf(const char* build) {
  return support::ReadFileBytes(std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+" + build + ".fd");
}

// OVMF's layout: its variable store volume at the bottom, then the
// compressed volume of PEI and DXE drivers, whose holder file starts here
// in both builds.
constexpr uint64_t kStoreVolumeEnd = 0x84000;
constexpr uint64_t kDriversFile = 0x20078;

// An authenticated variable written at the start of the empty store.
void WriteVariable(Bytes* image, const std::u16string& name, const Bytes& data) {
  const uint64_t header = uint64_t((*image)[0x30]) | uint64_t((*image)[0x31]) << 8;
  Bytes record(60, 0);
  record[0] = 0xAA;
  record[1] = 0x55;
  record[2] = 0x3F;                                         // added
  record[4] = 0x07;                                         // NV, boot service, runtime
  const uint32_t nameSize = uint32_t(name.size() + 1) * 2;  // with its NUL
  for (int i = 0; i < 4; ++i) {
    record[36 + i] = uint8_t(nameSize >> (8 * i));
    record[40 + i] = uint8_t(data.size() >> (8 * i));
  }
  for (int i = 0; i < 16; ++i) record[44 + i] = uint8_t(0x40 + i);  // vendor
  for (char16_t unit : name) {
    record.push_back(uint8_t(unit));
    record.push_back(uint8_t(unit >> 8));
  }
  record.insert(record.end(), {0, 0});
  record.insert(record.end(), data.begin(), data.end());
  std::copy(record.begin(), record.end(), image->begin() + long(header + 28));
}

struct Found {
  CauseAnalysis analysis;
  std::set<std::string> kinds;
  const Cause* Of(CauseKind kind) const {
    for (const Cause& cause : analysis.causes)
      if (cause.kind == kind) return &cause;
    return nullptr;
  }
};

Found Causes(const Bytes& main, const Bytes& backup) {
  support::TempDir scratch;
  support::WriteBytes(scratch.path() / "main.fd", main);
  support::WriteBytes(scratch.path() / "backup.fd", backup);
  ChipDump a, b;
  std::string problem;
  EXPECT_TRUE(a.Load((scratch.path() / "main.fd").string(), &problem)) << problem;
  EXPECT_TRUE(b.Load((scratch.path() / "backup.fd").string(), &problem)) << problem;
  Found found;
  found.analysis = Compare(a, b, {}).causes;
  // The trees point into the dumps: keep what outlives them only.
  found.analysis.images.clear();
  for (const Cause& cause : found.analysis.causes) found.kinds.insert(CauseKindName(cause.kind));
  return found;
}

bool AllErased(const Bytes& image, uint64_t block) {
  for (uint64_t i = 0; i < kEraseBlock; ++i)
    if (image[block + i] != 0xFF) return false;
  return true;
}

// Catches: a rebuild taken for bit errors or erased blocks (a new layout's
// free space), or a different build missed when the time stamps are zero.
TEST(DiffCauses, TwoBuildsOfOneFirmwareAreADifferentBuildAndNothingElse) {
  const Bytes one = Ovmf("deb12u1"), two = Ovmf("deb12u2");
  for (const auto& [main, backup] : {std::pair{&one, &two}, std::pair{&two, &one}}) {
    const Found found = Causes(*main, *backup);
    EXPECT_EQ(found.kinds, std::set<std::string>{"different_build"});
    const Cause* build = found.Of(CauseKind::DifferentBuild);
    ASSERT_NE(build, nullptr);
    EXPECT_EQ(build->chip, CauseChip::Both);
    EXPECT_GE(build->files, 1u);
    EXPECT_EQ(build->offsets, std::vector<uint64_t>{kDriversFile});
    EXPECT_NE(build->text.find("a different build: "), std::string::npos) << build->text;
  }

  // The drivers' volume of the next build put in place of this build's
  // (the rest of the old file left erased): the same, and its free space
  // is no erased block.
  Bytes swapped = one;
  const uint64_t oldEnd = kDriversFile + 0x171843, newEnd = kDriversFile + 0x171554;
  std::copy(two.begin() + long(kDriversFile), two.begin() + long(newEnd), swapped.begin() + long(kDriversFile));
  std::fill(swapped.begin() + long(newEnd), swapped.begin() + long(oldEnd), 0xFF);
  const Found found = Causes(one, swapped);
  EXPECT_EQ(found.kinds, std::set<std::string>{"different_build"});
}

// Catches: a byte or two a new build changed (a version, a table) taken for
// bit errors, on the real pairs of the shared corpus when it is present.
TEST(DiffCauses, RealPairsOfTwoBuildsAreADifferentBuildAlone) {
  const char* corpus = std::getenv("PELLRIX_CORPUS");
  if (corpus == nullptr || !std::filesystem::exists(std::string(corpus) + "/fsp-kbl-3.7.1.fd"))
    GTEST_SKIP() << "no corpus";
  const std::string at = std::string(corpus) + "/";
  for (const auto& [first, second] :
       {std::pair{"fsp-kbl-3.7.1.fd", "fsp-kbl-3.7.6.fd"}, std::pair{"fsp-skl.fd", "fsp-kbl-3.7.1.fd"},
        std::pair{"deb-ovmf-u1-OVMF.fd", "deb-ovmf-u2-OVMF.fd"}}) {
    const Bytes a = support::ReadFileBytes(at + first), b = support::ReadFileBytes(at + second);
    EXPECT_EQ(Causes(a, b).kinds, std::set<std::string>{"different_build"}) << first << " " << second;
    EXPECT_EQ(Causes(b, a).kinds, std::set<std::string>{"different_build"}) << second << " " << first;
  }
}

// Catches: the erased bytes put in front of a dump shorter than the region
// (never read from a chip) taken for an erase.
TEST(DiffCauses, ADumpOfTheTopHalfIsNoErase) {
  const Bytes whole = Ovmf("deb12u1");
  const Bytes top(whole.end() - 0x100000, whole.end());
  for (const auto& [main, backup] : {std::pair{&whole, &top}, std::pair{&top, &whole}}) {
    const Found found = Causes(*main, *backup);
    EXPECT_EQ(found.Of(CauseKind::Erased), nullptr);
    EXPECT_EQ(found.Of(CauseKind::BitErrors), nullptr);
  }
}

// Catches: settings taken for a firmware change, or a variable store's
// bytes claimed by the flash rules.
TEST(DiffCauses, AVariableAloneIsSettingsWithNoFirmwareFile) {
  Bytes main = Ovmf("deb12u1");
  Bytes backup = main;
  WriteVariable(&main, u"PellrixCount", {1, 0, 0, 0});
  WriteVariable(&backup, u"PellrixCount", {2, 0, 0, 0});
  const Found found = Causes(main, backup);
  EXPECT_EQ(found.kinds, std::set<std::string>{"settings"});
  ASSERT_NE(found.Of(CauseKind::Settings), nullptr);
  EXPECT_EQ(found.Of(CauseKind::Settings)->files, 1u);
  EXPECT_EQ(found.Of(CauseKind::Settings)->text, "settings: 1 variable changed, no firmware file");
}

struct Damage {
  Bytes main, backup;
  int erasedChip;
  std::set<uint64_t> erased;  // flash offsets of blocks
  uint64_t flippedBytes = 0;
  uint64_t bitsOneOn[2] = {0, 0};
};

// Blocks erased on one chip and bits flipped on the other, in blocks of
// their own outside the variable store, all over the firmware (its
// compressed volume included), and a variable changed.
Damage Damaged(uint32_t seed) {
  std::mt19937 random(seed);
  Damage damage;
  damage.main = Ovmf(seed % 2 ? "deb12u1" : "deb12u2");
  damage.backup = damage.main;
  WriteVariable(&damage.backup, u"PellrixSeed", {uint8_t(seed)});
  const uint64_t blocks = damage.main.size() / kEraseBlock;
  std::vector<uint64_t> data;
  for (uint64_t block = kStoreVolumeEnd / kEraseBlock; block < blocks; ++block)
    if (!AllErased(damage.main, block * kEraseBlock)) data.push_back(block * kEraseBlock);
  std::shuffle(data.begin(), data.end(), random);
  damage.erasedChip = int(random() % 2);
  Bytes& erasedOn = damage.erasedChip == 0 ? damage.main : damage.backup;
  size_t next = 0;
  for (uint32_t i = 0, n = random() % 4; i < n; ++i) {
    damage.erased.insert(data[next]);
    std::fill_n(erasedOn.begin() + long(data[next++]), kEraseBlock, 0xFF);
  }
  // Bits flipped one way, on the chip the erased blocks are not on when there are any.
  const int flippedChip = 1 - damage.erasedChip;
  const bool setBits = random() % 2;
  Bytes& flippedOn = flippedChip == 0 ? damage.main : damage.backup;
  for (uint32_t i = 0, n = 1 + random() % 5; i < n; ++i) {
    const uint64_t block = data[next++];
    for (uint32_t k = 0, bytes = 1 + random() % 3; k < bytes; ++k) {
      // A byte of this quarter of the block with a bit to flip that way.
      auto flippable = [&](uint64_t at) { return (setBits ? flippedOn[at] : uint8_t(~flippedOn[at])) != 0xFF; };
      uint64_t at = block + k * 1024 + random() % 1000;
      for (int tries = 0; tries < 4000 && !flippable(at); ++tries) at = block + k * 1024 + random() % 1000;
      if (!flippable(at)) continue;
      uint8_t bit = 1;
      while ((setBits ? flippedOn[at] : uint8_t(~flippedOn[at])) & bit) bit = uint8_t(bit << 1);
      flippedOn[at] ^= bit;
      ++damage.flippedBytes;
      // Setting a bit on a chip makes it read 1 where the other reads 0.
      ++damage.bitsOneOn[setBits ? flippedChip : 1 - flippedChip];
    }
  }
  return damage;
}

// Catches: a cause missed, miscounted or put on the wrong chip; damage
// inside the compressed volume taken for a rebuild; damage put under
// settings or under "other".
TEST(DiffCauses, ErasedBlocksBitErrorsAndSettingsOfKnownDamageAreEachFound) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Damage damage = Damaged(seed);
    const Found found = Causes(damage.main, damage.backup);
    std::set<std::string> expected = {"settings"};
    if (damage.flippedBytes > 0) expected.insert("bit_errors");
    if (!damage.erased.empty()) expected.insert("erased");
    EXPECT_EQ(found.kinds, expected);

    if (const Cause* erased = found.Of(CauseKind::Erased)) {
      EXPECT_EQ(erased->chip, damage.erasedChip == 0 ? CauseChip::Main : CauseChip::Backup);
      EXPECT_EQ(erased->blocks, damage.erased.size());
      for (uint64_t offset : erased->offsets) EXPECT_TRUE(damage.erased.count(offset)) << offset;
      EXPECT_FALSE(erased->fileNames.empty());
      EXPECT_NE(erased->text.find("an erase not followed by its write"), std::string::npos);
    }
    const Cause* bits = found.Of(CauseKind::BitErrors);
    if (damage.flippedBytes == 0) continue;
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(bits->bytes, damage.flippedBytes);
    EXPECT_EQ(bits->bitsOneOnMain, damage.bitsOneOn[0]);
    EXPECT_EQ(bits->bitsOneOnBackup, damage.bitsOneOn[1]);
    EXPECT_EQ(bits->chip, damage.bitsOneOn[0] > 0 ? CauseChip::Main : CauseChip::Backup);
    const Cause* settings = found.Of(CauseKind::Settings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->text.find("no firmware file"), std::string::npos);
  }
}

// Catches: a flipped bit in a driver's image header (a section's size)
// taken for another build because the header differs.
TEST(DiffCauses, AFlippedBitInADriversHeaderIsABitErrorNotABuild) {
  const Bytes main = Ovmf("deb12u1");
  uint64_t sectionSize = 0;
  {
    support::TempDir scratch;
    support::WriteBytes(scratch.path() / "main.fd", main);
    ChipDump dump;
    std::string problem;
    ASSERT_TRUE(dump.Load((scratch.path() / "main.fd").string(), &problem)) << problem;
    for (const fwtree::TreeFile& file : dump.tree().files)
      if (file.name == "SecMain" && file.offset && file.image != nullptr && !file.imageIsTe) {
        // The first section's virtual size, second byte: after the PE
        // header and its optional header.
        const uint8_t* image = file.image;
        const uint32_t pe = uint32_t(image[0x3C] | image[0x3D] << 8);
        const uint32_t optional = uint32_t(image[pe + 20] | image[pe + 21] << 8);
        sectionSize = uint64_t(image - dump.file()) + pe + 24 + optional + 8 + 1;
      }
  }
  ASSERT_NE(sectionSize, 0u) << "SecMain's image not found in the SEC volume";
  Bytes backup = main;
  backup[sectionSize] ^= 0x01;
  const Found found = Causes(main, backup);
  EXPECT_EQ(found.kinds, std::set<std::string>{"bit_errors"});
  ASSERT_NE(found.Of(CauseKind::BitErrors), nullptr);
  EXPECT_EQ(found.Of(CauseKind::BitErrors)->fileNames, std::vector<std::string>{"SecMain"});
}

}  // namespace
