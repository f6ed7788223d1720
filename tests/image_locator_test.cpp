// SPDX-License-Identifier: BSD-2-Clause-Patent
// LocateDescriptor and ValidateVolumeFiles on images made with the builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/descriptor_locator.h"
#include "image/layout.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::DescriptorVolume;
using image_test::GuardedBuffer;
using image_test::InfoFor;
using image_test::ModuleFile;
using image_test::NamedDescriptor;
using sim::Bytes;

// An image of `size` erased bytes with `volume` copied to `offset`.
Bytes ImageWith(size_t size, std::vector<std::pair<size_t, Bytes>> volumes) {
  Bytes image(size, 0xFF);
  for (auto& [offset, bytes] : volumes) std::memcpy(image.data() + offset, bytes.data(), bytes.size());
  return image;
}

struct Located {
  EFI_STATUS status;
  BiosInfo info;
};

Located Locate(GuardedBuffer& buffer) {
  Located r{0, InfoFor(buffer.data(), buffer.size())};
  r.status = LocateDescriptor(&r.info);
  return r;
}

TEST(DescriptorLocator, FillsEveryFieldFromTheDescriptorAndItsVolume) {
  sim::DescriptorSpec spec;
  spec.flash_size = 0x1000000;
  spec.bios_size = 0xC00000;
  spec.block_size = 0x10000;
  spec.part_number = "PN123456";
  spec.version = "0A1B";
  spec.model_name = "MODEL NAME THAT IS 32 CHARS LONG";
  spec.aux_word = 0xBEEF;
  spec.aux_byte1 = 0x11;
  spec.aux_byte2 = 0x22;
  spec.aux_byte3 = 0x33;
  spec.aux_word2 = 0x4455;
  spec.checksum_table_offset = 0x200;
  spec.area_table_offset = 0x300;
  size_t d = 0;
  GuardedBuffer buffer(ImageWith(0x20000, {{0x10000, DescriptorVolume(spec, 0x10000, &d, {ModuleFile(1, 300)})}}));
  Located r = Locate(buffer);
  ASSERT_EQ(r.status, kEfiSuccess);
  uint8_t* descriptor = buffer.data() + 0x10000 + d;
  EXPECT_EQ(+r.info.Found, 1);
  EXPECT_EQ(+r.info.Descriptor, descriptor);
  EXPECT_EQ(+r.info.Volume, buffer.data() + 0x10000);
  EXPECT_EQ(+r.info.AreaTable, descriptor + 0x300);
  EXPECT_EQ(+r.info.ChecksumTableRev100, descriptor + 0x200);
  EXPECT_EQ(+r.info.ChecksumTableOther, nullptr);
  EXPECT_EQ(+r.info.FlashSize, 0x1000000u);
  EXPECT_EQ(+r.info.BiosSize, 0xC00000u);
  EXPECT_EQ(+r.info.BlockSize, 0x10000u);
  EXPECT_EQ(+r.info.HasBiosOffset, 1);
  EXPECT_EQ(+r.info.BiosOffset, 0x400000u);
  EXPECT_STREQ(r.info.PartNumber, "PN123456");
  EXPECT_STREQ(r.info.Version, "0A1B");
  EXPECT_STREQ(r.info.ModelName, "MODEL NAME THAT IS 32 CHARS LONG");
  EXPECT_EQ(+r.info.AuxWord, 0xBEEF);
  EXPECT_EQ(+r.info.AuxByte1, 0x11);
  EXPECT_EQ(+r.info.AuxByte2, 0x22);
  EXPECT_EQ(+r.info.AuxByte3, 0x33);
  // The window variant's field and the mailbox's part name are not written here.
  EXPECT_EQ(+r.info.AuxWord2, 0);
  for (char c : r.info.FlashPart) EXPECT_EQ(c, 0);
}

TEST(DescriptorLocator, RejectsMissingImageWithoutTouchingTheRecord) {
  BiosInfo info = InfoFor(nullptr, 0x1000);
  std::memset(info.PartNumber, 'x', sizeof info.PartNumber);
  info.BlockSize = 77;
  BiosInfo before = info;
  EXPECT_EQ(LocateDescriptor(&info), kEfiUnsupported);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);

  GuardedBuffer buffer(16);
  info.Image = buffer.data();
  info.ImageSize = 0;
  before = info;
  EXPECT_EQ(LocateDescriptor(&info), kEfiUnsupported);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
}

TEST(DescriptorLocator, NotFoundWritesTheNotFoundValuesAndLeavesTheTexts) {
  // A 4095-byte image has no candidate position at all.
  GuardedBuffer small(Bytes(4095, 0xFF));
  BiosInfo info = InfoFor(small.data(), small.size());
  // Poison every field the not-found values cover, and the texts, which must stay.
  uint8_t junk = 0;
  info.Found = 7;
  info.AreaTable = info.Descriptor = info.ChecksumTableRev100 = info.ChecksumTableOther = info.Volume = &junk;
  info.AuxByte3 = 9;
  info.FlashSize = info.BiosSize = info.BlockSize = info.BiosOffset = 5;
  info.HasBiosOffset = 1;
  std::strcpy(info.ModelName, "KEEP");
  info.AuxWord = 0x1111;
  EXPECT_EQ(LocateDescriptor(&info), kEfiNotFound);
  image_test::ExpectNotFoundRecord(info);
  EXPECT_STREQ(info.ModelName, "KEEP");
  EXPECT_EQ(+info.AuxWord, 0x1111);
}

TEST(DescriptorLocator, CandidatesAreCountedBackFromTheImageEnd) {
  const Bytes volume = DescriptorVolume(NamedDescriptor("AT START"), 0x4000);
  {
    GuardedBuffer aligned(ImageWith(0x10000, {{0, volume}}));
    EXPECT_EQ(Locate(aligned).status, kEfiSuccess);
  }
  {
    // 0x800 more bytes: the volume at the first byte is no longer on a candidate position.
    GuardedBuffer unaligned(ImageWith(0x10800, {{0, volume}}));
    EXPECT_EQ(Locate(unaligned).status, kEfiNotFound);
  }
  {
    // ... but one 0x800 bytes in is.
    GuardedBuffer shifted(ImageWith(0x10800, {{0x800, volume}}));
    Located r = Locate(shifted);
    EXPECT_EQ(r.status, kEfiSuccess);
    EXPECT_EQ(+r.info.Volume, shifted.data() + 0x800);
  }
}

TEST(DescriptorLocator, TopmostVolumeWithADescriptorWins) {
  GuardedBuffer buffer(ImageWith(0x30000, {{0x00000, DescriptorVolume(NamedDescriptor("LOW"), 0x10000)},
                                           {0x10000, DescriptorVolume(NamedDescriptor("HIGH"), 0x10000)}}));
  Located r = Locate(buffer);
  ASSERT_EQ(r.status, kEfiSuccess);
  EXPECT_STREQ(r.info.ModelName, "HIGH");
  EXPECT_EQ(+r.info.Volume, buffer.data() + 0x10000);
}

TEST(DescriptorLocator, SecondSignatureMismatchResumesOneByteLater) {
  size_t d = 0;
  Bytes volume = DescriptorVolume(NamedDescriptor("REAL"), 0x4000, &d);
  // A false "$BDR" in the section header 4 bytes before the real one; its
  // offset 8 is the real descriptor's reserved word, which is not 0x5AA5.
  std::memcpy(volume.data() + d - 4, "$BDR", 4);
  GuardedBuffer buffer(ImageWith(0x4000, {{0, volume}}));
  Located r = Locate(buffer);
  ASSERT_EQ(r.status, kEfiSuccess);
  EXPECT_EQ(+r.info.Descriptor, buffer.data() + d);
  EXPECT_STREQ(r.info.ModelName, "REAL");

  // Without the second signature the real one is passed over too.
  buffer.data()[d + 8] = 0x5A;
  EXPECT_EQ(Locate(buffer).status, kEfiNotFound);
}

TEST(DescriptorLocator, FirstDescriptorOutsideItsFileGivesUp) {
  size_t d = 0;
  Bytes high = DescriptorVolume(NamedDescriptor("HIGH"), 0x10000, &d);
  high[d - sim::kDescriptorInFile] ^= 0x01;  // the file's name no longer matches
  sim::FixFileChecksums(high.data() + d - sim::kDescriptorInFile);
  GuardedBuffer buffer(
      ImageWith(0x20000, {{0x00000, DescriptorVolume(NamedDescriptor("LOW"), 0x10000)}, {0x10000, high}}));
  BiosInfo info = InfoFor(buffer.data(), buffer.size());
  const BiosInfo before = info;
  EXPECT_EQ(LocateDescriptor(&info), kEfiUnsupported);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
}

TEST(DescriptorLocator, SkipsVolumesThatFailTheirChecks) {
  const Bytes low = DescriptorVolume(NamedDescriptor("LOW"), 0x10000);
  {
    Bytes high = DescriptorVolume(NamedDescriptor("HIGH"), 0x10000);
    high[0] ^= 1;  // header sum no longer zero
    GuardedBuffer buffer(ImageWith(0x20000, {{0, low}, {0x10000, high}}));
    Located r = Locate(buffer);
    ASSERT_EQ(r.status, kEfiSuccess);
    EXPECT_STREQ(r.info.ModelName, "LOW");
  }
  {
    Bytes bad = ModuleFile(3, 100);
    bad.back() ^= 0x10;  // data sum broken
    Bytes high = DescriptorVolume(NamedDescriptor("HIGH"), 0x10000, nullptr, {bad});
    GuardedBuffer buffer(ImageWith(0x20000, {{0, low}, {0x10000, high}}));
    Located r = Locate(buffer);
    ASSERT_EQ(r.status, kEfiSuccess);
    EXPECT_STREQ(r.info.ModelName, "LOW");
  }
  {
    // Without the checksum attribute the same damage is not looked at.
    Bytes unchecked = ModuleFile(3, 100, /*checksummed=*/false);
    unchecked.back() ^= 0x10;
    unchecked[17] = 0x12;
    Bytes high = DescriptorVolume(NamedDescriptor("HIGH"), 0x10000, nullptr, {unchecked});
    GuardedBuffer buffer(ImageWith(0x20000, {{0, low}, {0x10000, high}}));
    Located r = Locate(buffer);
    ASSERT_EQ(r.status, kEfiSuccess);
    EXPECT_STREQ(r.info.ModelName, "HIGH");
  }
}

TEST(DescriptorLocator, SearchEndsAtTheVolumeLength) {
  // A 0x1000-byte volume followed by the descriptor file in what is no volume.
  sim::VolumeSpec spec;
  spec.length = 0x1000;
  Bytes volume = sim::BuildVolume(spec);
  Bytes image = ImageWith(0x4000, {{0, volume}});
  const Bytes file = sim::BuildDescriptorFile(NamedDescriptor("OUTSIDE"));
  std::memcpy(image.data() + 0x1100, file.data(), file.size());
  GuardedBuffer outside(image);
  EXPECT_EQ(Locate(outside).status, kEfiNotFound);

  // Lengthen the volume over it and it is found.
  const uint64_t length = 0x2000;
  std::memcpy(image.data() + 32, &length, 8);
  sim::FixVolumeChecksum(image.data());
  GuardedBuffer inside(image);
  EXPECT_EQ(Locate(inside).status, kEfiSuccess);
}

TEST(DescriptorLocator, BlockSizeHasA4096Floor) {
  for (auto [stored, recorded] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0, 4096}, {512, 4096}, {4095, 4096}, {4096, 4096}, {4097, 4097}, {65536, 65536}}) {
    sim::DescriptorSpec spec;
    spec.block_size = stored;
    GuardedBuffer buffer(DescriptorVolume(spec, 0x4000));
    Located r = Locate(buffer);
    ASSERT_EQ(r.status, kEfiSuccess);
    EXPECT_EQ(+r.info.BlockSize, recorded) << "stored " << stored;
  }
}

TEST(DescriptorLocator, BiosOffsetFollowsTheSizes) {
  struct Case {
    uint32_t flash, bios, offset;
    uint8_t has;
  };
  for (const Case& c : {Case{0x1000000, 0xC00000, 0x400000, 1}, Case{0x800000, 0x800000, 0, 0},
                        Case{0x400000, 0x800000, 0xFFC00000, 1}}) {
    sim::DescriptorSpec spec;
    spec.flash_size = c.flash;
    spec.bios_size = c.bios;
    GuardedBuffer buffer(DescriptorVolume(spec, 0x4000));
    Located r = Locate(buffer);
    ASSERT_EQ(r.status, kEfiSuccess);
    EXPECT_EQ(+r.info.HasBiosOffset, c.has);
    EXPECT_EQ(+r.info.BiosOffset, c.offset);
  }
}

TEST(DescriptorLocator, RevisionSelectsTheChecksumTableField) {
  struct Case {
    uint8_t lo, hi;
    bool rev100;
  };
  for (const Case& c : {Case{0x00, 0x01, true}, Case{0x01, 0x00, false}, Case{0x00, 0x02, false}}) {
    sim::DescriptorSpec spec;
    spec.revision[0] = c.lo;
    spec.revision[1] = c.hi;
    spec.checksum_table_offset = 0xC0;
    size_t d = 0;
    GuardedBuffer buffer(DescriptorVolume(spec, 0x4000, &d));
    Located r = Locate(buffer);
    ASSERT_EQ(r.status, kEfiSuccess);
    uint8_t* table = buffer.data() + d + 0xC0;
    EXPECT_EQ(+r.info.ChecksumTableRev100, c.rev100 ? table : nullptr);
    EXPECT_EQ(+r.info.ChecksumTableOther, c.rev100 ? nullptr : table);
  }
}

TEST(DescriptorLocator, TextsStopAtNulAndAreZeroPadded) {
  sim::DescriptorSpec spec;
  spec.part_number = "12345678";  // exactly 8: copied whole
  spec.version = "V2";
  spec.model_name = "SHORT";
  size_t d = 0;
  Bytes volume = DescriptorVolume(spec, 0x4000, &d);
  volume[d + 43] = 'Z';  // after the version's NUL: must not be copied
  volume[d + 70] = 'Q';  // after the model name's NUL
  GuardedBuffer buffer(volume);
  BiosInfo info = InfoFor(buffer.data(), buffer.size());
  // Stale bytes in the text fields must be cleared up to each text's width.
  std::memset(info.Version, 'x', 4);
  std::memset(info.ModelName, 'x', 32);
  ASSERT_EQ(LocateDescriptor(&info), kEfiSuccess);
  EXPECT_EQ(std::string(info.PartNumber, 12), std::string("12345678\0\0\0\0", 12));
  EXPECT_EQ(std::string(info.Version, 8), std::string("V2\0\0\0\0\0\0", 8));
  EXPECT_EQ(std::string(info.ModelName, 36), std::string("SHORT") + std::string(31, '\0'));
}

// A 0x1000-byte volume filling the buffer whose last file is a descriptor
// file with `descriptor_bytes` of the descriptor in its section.
Bytes VolumeEndingInDescriptor(size_t descriptor_bytes) {
  Bytes descriptor = sim::BuildDescriptor(NamedDescriptor("AT END"));
  descriptor.resize(std::max(descriptor.size(), descriptor_bytes), 0);
  sim::FileSpec file;
  file.name = sim::DescriptorFileName();
  file.checksummed = false;
  file.body = sim::Section(sim::kSectionRaw, Bytes(descriptor.begin(), descriptor.begin() + descriptor_bytes));
  sim::VolumeSpec spec;
  spec.length = 0x1000;
  spec.files = {sim::BuildFile(file)};
  spec.last_file_at_top = true;
  return sim::BuildVolume(spec);
}

TEST(DescriptorLocator, DescriptorsThatDoNotFitInTheBufferArePassedOver) {
  GuardedBuffer whole(VolumeEndingInDescriptor(sim::kDescriptorLength + 4));
  EXPECT_EQ(Locate(whole).status, kEfiSuccess);
  // Only 164 of the 192 descriptor bytes before the buffer ends (sizes keep
  // the file 8-byte aligned at the top).
  GuardedBuffer cut(VolumeEndingInDescriptor(164));
  EXPECT_EQ(Locate(cut).status, kEfiNotFound);

  // A descriptor at the image's first byte has no file header before it.
  sim::VolumeSpec spec;
  spec.length = 0x1000;
  Bytes volume = sim::BuildVolume(spec);
  const uint32_t signature = 0x52444224;
  std::memcpy(volume.data(), &signature, 4);
  volume[8] = 0xA5;
  volume[9] = 0x5A;
  sim::FixVolumeChecksum(volume.data());
  GuardedBuffer first(volume);
  EXPECT_EQ(Locate(first).status, kEfiNotFound);
}

// ---------------------------------------------------------------------------

bool Validate(const Bytes& volume) {
  GuardedBuffer buffer(volume);
  return ValidateVolumeFiles(buffer.data(), buffer.end());
}

sim::Bytes VolumeOf(std::vector<Bytes> files, uint64_t length = 0x4000, bool ext = false) {
  sim::VolumeSpec spec;
  spec.length = length;
  spec.files = std::move(files);
  if (ext) spec.ext_name = sim::MakeGuid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11});
  return sim::BuildVolume(spec);
}

TEST(DescriptorVolumeFiles, ChecksAllFilesUpToTheFirstStop) {
  std::vector<size_t> offsets;
  sim::VolumeSpec spec;
  spec.length = 0x4000;
  spec.ext_name = sim::MakeGuid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11});
  spec.files = {ModuleFile(1, 29), ModuleFile(2, 1000), ModuleFile(3, 0), ModuleFile(4, 5)};
  Bytes volume = sim::BuildVolume(spec, &offsets);
  EXPECT_TRUE(Validate(volume));
  // Each file, including one that follows an odd-sized file at its 8-byte
  // aligned place, and the last one before the erased space, is checked.
  for (size_t i = 0; i < offsets.size(); ++i) {
    Bytes broken = volume;
    broken[offsets[i] + 18] ^= 0x01;  // the type byte is covered by the header sum
    EXPECT_FALSE(Validate(broken)) << "file " << i;
  }
}

TEST(DescriptorVolumeFiles, HeaderSumLeavesOutStateAndDataChecksum) {
  std::vector<size_t> offsets;
  sim::VolumeSpec spec;
  spec.length = 0x2000;
  spec.files = {ModuleFile(1, 64)};
  Bytes volume = sim::BuildVolume(spec, &offsets);
  const size_t f = offsets[0];
  Bytes state = volume;
  state[f + 23] ^= 0x07;  // State changes at run time
  EXPECT_TRUE(Validate(state));
  Bytes header = volume;
  header[f + 16] ^= 0x01;  // the header checksum byte is in the sum
  EXPECT_FALSE(Validate(header));
  // The data checksum byte is left out of the header sum but is part of the data sum.
  Bytes data = volume;
  data[f + 17] ^= 0x01;
  EXPECT_FALSE(Validate(data));
  Bytes body = volume;
  body[f + 24 + 63] ^= 0x80;
  EXPECT_FALSE(Validate(body));
  // Compensating changes in the body keep the data sum.
  Bytes moved = volume;
  moved[f + 30] += 1;
  moved[f + 31] -= 1;
  EXPECT_TRUE(Validate(moved));
}

TEST(DescriptorVolumeFiles, HeaderOnlyFileCountsOnlyItsChecksumByte) {
  sim::FileSpec empty;
  empty.name = sim::MakeGuid(9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9});
  Bytes file = sim::BuildFile(empty);
  ASSERT_EQ(file.size(), 24u);
  EXPECT_EQ(file[17], 0);
  EXPECT_TRUE(Validate(VolumeOf({file})));
  file[17] = 1;
  file[16] -= 1;  // keep the header sum, break the data sum
  EXPECT_FALSE(Validate(VolumeOf({file})));
}

TEST(DescriptorVolumeFiles, StopsAtErasedSpaceZeroSizeAndTheVolumeLength) {
  Bytes bad = ModuleFile(7, 40);
  bad[30] ^= 0xFF;
  std::vector<size_t> offsets;
  sim::VolumeSpec spec;
  spec.length = 0x2000;
  spec.files = {ModuleFile(1, 40)};
  Bytes volume = sim::BuildVolume(spec, &offsets);
  const size_t next = (offsets[0] + 64 + 7) & ~size_t(7);
  // Erased header: the broken file after it is never reached.
  Bytes erased = volume;
  std::memcpy(erased.data() + next + 32, bad.data(), bad.size());
  EXPECT_TRUE(Validate(erased));
  // Zero size ends the walk too.
  Bytes zero = erased;
  std::memset(zero.data() + next, 0, 24);
  EXPECT_TRUE(Validate(zero));
  // A broken file right at FvLength is outside the volume.
  Bytes at_length = volume;
  std::memcpy(at_length.data() + next, bad.data(), bad.size());
  EXPECT_FALSE(Validate(at_length));
  const uint64_t length = next;
  std::memcpy(at_length.data() + 32, &length, 8);
  EXPECT_TRUE(Validate(at_length));
}

TEST(DescriptorVolumeFiles, FilesReachingPastTheBufferFail) {
  // A volume cut short by the buffer: its file runs out of it.
  Bytes volume = VolumeOf({ModuleFile(1, 0x500)}, 0x1000);
  volume.resize(0x400);
  EXPECT_FALSE(Validate(volume));
  // A file header cut by the buffer end.
  volume.resize(0x48 + 10);
  EXPECT_FALSE(Validate(volume));
  // A walk that ends exactly at the buffer's end with the volume's end is complete.
  Bytes exact = VolumeOf({ModuleFile(1, 0x400 - 0x48 - 24)}, 0x400);
  EXPECT_TRUE(Validate(exact));
}

}  // namespace
