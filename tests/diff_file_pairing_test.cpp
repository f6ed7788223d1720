// SPDX-License-Identifier: BSD-2-Clause-Patent
// How two firmware trees' files are paired and judged, on trees walked from
// built volumes with masks placed exactly: an unreadable container on
// either side, a holder masked in part, a name met three times, and a file
// moved and changed at the same size.
#include <gtest/gtest.h>

#include <algorithm>

#include "diff/compare/file_changes.h"
#include "tests/support/firmware_builder.h"

namespace {

using pdiff::FileChange;
using pdiff::FileChangeKind;
using sim::Bytes;
using namespace support;

sim::Guid Name(uint32_t n) { return NumberedGuid(0x9A1F0000, n); }

Bytes Driver(uint32_t n, const std::u16string& name, uint32_t seed = 0) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.body = Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(600, n * 100 + seed)), UiSection(name)});
  return sim::BuildFile(spec);
}

Bytes Volume(uint32_t n, const std::vector<Bytes>& files, uint64_t length = 0x10000) {
  sim::VolumeSpec spec;
  spec.length = length;
  spec.ext_name = Name(n);
  spec.files = files;
  return sim::BuildVolume(spec);
}

// Container 10, whose LZMA section holds volume 11 with drivers 12 and 13;
// `seed` changes driver 13.
Bytes ContainerBody(uint32_t seed) {
  return Sections(
      {LzmaSection(Sections({VolumeImageSection(Volume(11, {Driver(12, u"A"), Driver(13, u"B", seed)}, 0x8000))}))});
}

Bytes ContainerImage(uint32_t seed) {
  sim::FileSpec container;
  container.name = Name(10);
  container.type = kFileTypeVolumeImage;
  container.body = ContainerBody(seed);
  return Volume(1, {sim::BuildFile(container)});
}

// The same image with a byte of the compressed stream flipped (past the
// file and section headers): the container cannot be opened.
Bytes Damaged(const Bytes& image) {
  Bytes damaged = image;
  const Bytes body = ContainerBody(0);
  const auto stream = std::search(damaged.begin(), damaged.end(), body.begin() + 24, body.begin() + 40);
  EXPECT_NE(stream, damaged.end());
  stream[8] ^= 0xFF;
  return damaged;
}

struct Walked {
  fwtree::FirmwareTree main;
  fwtree::FirmwareTree backup;
};

std::vector<FileChange> Pair(
    const Walked& trees, const pdiff::IsMasked& isMasked = [](uint64_t, uint64_t) { return false; }) {
  return pdiff::CompareFileTrees(
      trees.main, trees.backup, [](int, uint64_t offset) { return offset; }, isMasked);
}

Walked Walk(const Bytes& main, const Bytes& backup) {
  return {fwtree::BuildFirmwareTree(main.data(), main.size()), fwtree::BuildFirmwareTree(backup.data(), backup.size())};
}

const FileChange* ChangeOf(const std::vector<FileChange>& changes, uint32_t n) {
  for (const FileChange& change : changes) {
    const fwtree::TreeFile* file = change.main != nullptr ? change.main : change.backup;
    if (ToSimGuid(file->guid) == Name(n)) return &change;
  }
  return nullptr;
}

// Catches: an unreadable container told apart on one side only (Main
// unreadable read as a change, or as Backup's), and an unreadable container
// inside a masked area judged on Main's side only, so Backup's is hidden
// among the masked.
TEST(DiffFilePairing, AnUnreadableContainerIsNamedOnEitherSideMaskedOrNot) {
  const Bytes whole = ContainerImage(0);
  const Bytes damaged = Damaged(whole);
  struct Case {
    bool damagedIsMain;
    bool masked;
    FileChangeKind expected;
  };
  for (const Case& c :
       {Case{false, false, FileChangeKind::UnreadableInBackup}, Case{true, false, FileChangeKind::UnreadableInMain},
        Case{false, true, FileChangeKind::UnreadableInBackup}, Case{true, true, FileChangeKind::UnreadableInMain}}) {
    SCOPED_TRACE(std::string(c.damagedIsMain ? "Main" : "Backup") + (c.masked ? " damaged, masked" : " damaged"));
    const Walked trees = c.damagedIsMain ? Walk(damaged, whole) : Walk(whole, damaged);
    const std::vector<FileChange> changes = Pair(trees, [&](uint64_t, uint64_t) { return c.masked; });
    const FileChange* container = ChangeOf(changes, 10);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->kind, c.expected);
    EXPECT_FALSE(container->reason.empty());
  }
}

// Catches: a compressed file's holder judged masked by its first byte when
// the mask covers only that byte; the whole holder masked still hides it.
TEST(DiffFilePairing, AFileInsideAHolderIsMaskedOnlyWhenTheWholeHolderIs) {
  const Walked trees = Walk(ContainerImage(0), ContainerImage(1));
  const auto container = std::find_if(trees.main.files.begin(), trees.main.files.end(),
                                      [](const fwtree::TreeFile& file) { return ToSimGuid(file.guid) == Name(10); });
  ASSERT_NE(container, trees.main.files.end());
  ASSERT_TRUE(container->offset);
  const uint64_t begin = *container->offset;
  for (const auto& [maskEnd, expected] : {std::pair{begin + 1, FileChangeKind::Changed},
                                          std::pair{begin + container->size, FileChangeKind::MaskedOnly}}) {
    SCOPED_TRACE(maskEnd - begin);
    const std::vector<FileChange> changes =
        Pair(trees, [&](uint64_t from, uint64_t to) { return from >= begin && to <= maskEnd; });
    const FileChange* inner = ChangeOf(changes, 13);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->kind, expected);
  }
}

// Catches: a name found in one volume of Main and in two of Backup paired
// as one moved file (which of the two moved is not known).
TEST(DiffFilePairing, ANameMetThreeTimesIsNeverPairedAsMoved) {
  Bytes main = Volume(1, {Driver(20, u"Twice")});
  const Bytes other = Volume(2, {});
  main.insert(main.end(), other.begin(), other.end());
  Bytes backup = Volume(1, {});
  for (uint32_t volume : {2u, 3u}) {
    const Bytes holder = Volume(volume, {Driver(20, u"Twice")});
    backup.insert(backup.end(), holder.begin(), holder.end());
  }
  const Walked trees = Walk(main, backup);  // the changes point into the trees
  const std::vector<FileChange> changes = Pair(trees);
  ASSERT_EQ(changes.size(), 3u);
  for (const FileChange& change : changes) EXPECT_NE(change.kind, FileChangeKind::Moved);
}

// Catches: a file moved between volumes judged unchanged by its size when
// its bytes changed too.
TEST(DiffFilePairing, AFileMovedAndChangedAtTheSameSizeIsChanged) {
  Bytes main = Volume(1, {Driver(30, u"Mover", 0)});
  Bytes backup = Volume(1, {});
  const Bytes emptySecond = Volume(2, {});
  main.insert(main.end(), emptySecond.begin(), emptySecond.end());
  for (uint32_t seed : {0u, 1u}) {
    SCOPED_TRACE(seed);
    Bytes moved = backup;
    const Bytes second = Volume(2, {Driver(30, u"Mover", seed)});
    moved.insert(moved.end(), second.begin(), second.end());
    const Walked trees = Walk(main, moved);  // the changes point into the trees
    const std::vector<FileChange> changes = Pair(trees);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].kind, FileChangeKind::Moved);
    ASSERT_EQ(changes[0].main->size, changes[0].backup->size);
    EXPECT_EQ(changes[0].contentChanged, seed != 0);
  }
}

}  // namespace
