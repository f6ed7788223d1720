// SPDX-License-Identifier: BSD-2-Clause-Patent
// MaskVariableStore and MaskAreas.
#include <gtest/gtest.h>

#include <cstring>

#include "image/descriptor_locator.h"
#include "image/masking.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::GuardedBuffer;
using image_test::InfoFor;
using image_test::ModuleFile;
using sim::Bytes;

bool AllBytes(const uint8_t* p, size_t n, uint8_t value) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != value) return false;
  return true;
}

// Offsets of the bytes that differ between two equally long buffers, as
// [first, last] or {-1, -1} when they are equal.
std::pair<long, long> ChangedSpan(const Bytes& a, const uint8_t* b) {
  long first = -1, last = -1;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) {
      if (first < 0) first = long(i);
      last = long(i);
    }
  return {first, last};
}

Bytes PlainVolume(uint64_t length, uint32_t seed) {
  sim::VolumeSpec spec;
  spec.length = length;
  spec.files = {ModuleFile(seed, 0x200)};
  return sim::BuildVolume(spec);
}

Bytes StoreVolume(uint64_t length, const std::string& value = "1") {
  return sim::BuildVariableStoreVolume(length, {{"Var", value}});
}

// Non-erased filler so that a fill of 0xFF is visible everywhere.
Bytes Filler(size_t size) { return sim::PseudoRandomBytes(size, 99); }

void Put(Bytes& image, size_t offset, const Bytes& bytes) {
  std::memcpy(image.data() + offset, bytes.data(), bytes.size());
}

TEST(MaskVariableStore, BlanksTheStoreAndAsManyBytesAgain) {
  Bytes image = Filler(0x40000);
  Put(image, 0x00000, PlainVolume(0x10000, 1));
  Put(image, 0x10000, StoreVolume(0x10000));
  GuardedBuffer buffer(image);
  MaskVariableStore(buffer.data(), buffer.size());
  EXPECT_EQ(ChangedSpan(image, buffer.data()).first, 0x10000);
  EXPECT_TRUE(AllBytes(buffer.data() + 0x10000, 0x20000, 0xFF));
  EXPECT_EQ(std::memcmp(buffer.data() + 0x30000, image.data() + 0x30000, 0x10000), 0);
}

TEST(MaskVariableStore, FirstFileFollowsTheExtendedHeader) {
  sim::FileSpec store;
  store.name = sim::MakeGuid(5, 5, 5, {5, 5, 5, 5, 5, 5, 5, 5});
  store.checksummed = false;
  store.body = {'N', 'V', 'A', 'R', 0, 0, 0, 0};
  sim::VolumeSpec spec;
  spec.length = 0x2000;
  spec.ext_name = sim::MakeGuid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11});  // 20 bytes: the file starts 4 bytes after it
  spec.files = {sim::BuildFile(store)};
  Bytes image = Filler(0x8000);
  Put(image, 0x2000, spec.files.empty() ? Bytes{} : sim::BuildVolume(spec));
  GuardedBuffer buffer(image);
  MaskVariableStore(buffer.data(), buffer.size());
  EXPECT_EQ(ChangedSpan(image, buffer.data()), std::make_pair(0x2000L, 0x5FFFL));
  EXPECT_TRUE(AllBytes(buffer.data() + 0x2000, 0x4000, 0xFF));
}

TEST(MaskVariableStore, OnlyTheLowestStoreIsBlanked) {
  Bytes image = Filler(0x10000);
  Put(image, 0x0000, StoreVolume(0x2000, "low"));
  Put(image, 0x8000, StoreVolume(0x2000, "high"));
  GuardedBuffer buffer(image);
  MaskVariableStore(buffer.data(), buffer.size());
  EXPECT_EQ(ChangedSpan(image, buffer.data()), std::make_pair(0L, 0x3FFFL));
}

TEST(MaskVariableStore, ScanStepsBy4096OrByTheVolumeLength) {
  {
    // Nothing at 0: the next look is at 0x1000, so a store at 0x800 is never seen.
    Bytes image = Filler(0x8000);
    Put(image, 0x800, StoreVolume(0x1000));
    GuardedBuffer buffer(image);
    MaskVariableStore(buffer.data(), buffer.size());
    EXPECT_EQ(ChangedSpan(image, buffer.data()).first, -1);
  }
  {
    // Right after a 0x1800-byte volume the scan looks at 0x1800.
    Bytes image = Filler(0x8000);
    Put(image, 0x0000, PlainVolume(0x1800, 2));
    Put(image, 0x1800, StoreVolume(0x1000));
    GuardedBuffer buffer(image);
    MaskVariableStore(buffer.data(), buffer.size());
    EXPECT_EQ(ChangedSpan(image, buffer.data()), std::make_pair(0x1800L, 0x37FFL));
  }
  {
    // A volume claiming length 0 does not hold the scan in place.
    Bytes image = Filler(0x8000);
    Bytes zero = PlainVolume(0x1000, 3);
    std::memset(zero.data() + 32, 0, 8);
    Put(image, 0x0000, zero);
    Put(image, 0x1000, StoreVolume(0x1000));
    GuardedBuffer buffer(image);
    MaskVariableStore(buffer.data(), buffer.size());
    EXPECT_EQ(ChangedSpan(image, buffer.data()), std::make_pair(0x1000L, 0x2FFFL));
  }
}

TEST(MaskVariableStore, FillIsTwiceTheLow32BitsOfTheLengthClippedToTheBuffer) {
  {
    // Twice 0x80001000 is 0x2000 modulo 2^32 (the high half is ignored).
    Bytes image = Filler(0x8000);
    Bytes store = StoreVolume(0x1000);
    const uint64_t length = 0x180001000ull;
    std::memcpy(store.data() + 32, &length, 8);
    Put(image, 0, store);
    GuardedBuffer buffer(image);
    MaskVariableStore(buffer.data(), buffer.size());
    EXPECT_EQ(ChangedSpan(image, buffer.data()), std::make_pair(0L, 0x1FFFL));
  }
  {
    // A store near the end of the buffer: the fill stops at the end.
    Bytes image = Filler(0x5000);
    Put(image, 0x3000, StoreVolume(0x1800));
    GuardedBuffer buffer(image);
    MaskVariableStore(buffer.data(), buffer.size());
    EXPECT_EQ(ChangedSpan(image, buffer.data()), std::make_pair(0x3000L, 0x4FFFL));
  }
}

TEST(MaskVariableStore, HeadersCutByTheBufferEndAreNotRead) {
  Bytes store = StoreVolume(0x1000);
  for (size_t keep : {size_t(20), size_t(44), size_t(54), size_t(0x48 + 20), size_t(0x48 + 26)}) {
    Bytes image = Filler(0x1000);
    image.insert(image.end(), store.begin(), store.begin() + keep);
    GuardedBuffer buffer(image);
    MaskVariableStore(buffer.data(), buffer.size());
    EXPECT_EQ(ChangedSpan(image, buffer.data()).first, -1) << keep;
  }
  // An extended header offset pointing past the buffer.
  Bytes image = Filler(0x2000);
  Bytes wild = StoreVolume(0x1000);
  wild[52] = 0xF0;
  wild[53] = 0xFF;
  Put(image, 0x1000, wild);
  GuardedBuffer buffer(image);
  MaskVariableStore(buffer.data(), buffer.size());
  EXPECT_EQ(ChangedSpan(image, buffer.data()).first, -1);
}

// ---------------------------------------------------------------------------

const sim::Guid kAreaFile = sim::MakeGuid(0xAAAA0001, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1});
const sim::Guid kOtherFile = sim::MakeGuid(0xAAAA0002, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2});

Bytes NamedFile(const sim::Guid& name, uint32_t seed, size_t body = 0x100) {
  sim::FileSpec f;
  f.name = name;
  f.body = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(body, seed));
  return sim::BuildFile(f);
}

struct AreaImage {
  Bytes image;
  size_t descriptor = 0;      // offset in the image
  std::vector<size_t> files;  // offsets in the image of the files around the descriptor file
};

// An image of two volumes: at 0x4000 the descriptor's volume with `before`,
// the descriptor file and `after`; at 0 another volume holding `elsewhere`.
AreaImage BuildAreaImage(const sim::DescriptorSpec& spec, std::vector<Bytes> before, std::vector<Bytes> after = {},
                         std::vector<Bytes> elsewhere = {}) {
  sim::VolumeSpec volume;
  volume.length = 0x4000;
  const size_t count = before.size();
  volume.files = std::move(before);
  volume.files.push_back(sim::BuildDescriptorFile(spec));
  for (auto& f : after) volume.files.push_back(std::move(f));
  std::vector<size_t> offsets;
  Bytes descriptorVolume = sim::BuildVolume(volume, &offsets);

  sim::VolumeSpec other;
  other.length = 0x4000;
  other.files = std::move(elsewhere);
  std::vector<size_t> otherOffsets;
  Bytes otherVolume = sim::BuildVolume(other, &otherOffsets);

  AreaImage r;
  r.image = Bytes(0x8000, 0xFF);
  Put(r.image, 0, otherVolume);
  Put(r.image, 0x4000, descriptorVolume);
  r.descriptor = 0x4000 + offsets[count] + sim::kDescriptorInFile;
  for (size_t i = 0; i < offsets.size(); ++i)
    if (i != count) r.files.push_back(0x4000 + offsets[i]);
  for (size_t o : otherOffsets) r.files.push_back(o);
  return r;
}

sim::DescriptorSpec WithAreas(std::vector<sim::AreaSpec> areas) {
  sim::DescriptorSpec spec;
  spec.areas = std::move(areas);
  for (size_t i = 0; i < 32; ++i) spec.chip_area[i] = uint8_t(0xC0 + i);
  return spec;
}

// Locates and masks; returns the masked bytes.
Bytes LocateAndMask(const Bytes& image) {
  GuardedBuffer buffer(image);
  BiosInfo info = InfoFor(buffer.data(), buffer.size());
  EXPECT_EQ(LocateDescriptor(&info), kEfiSuccess);
  MaskAreas(buffer.data(), &info);
  return buffer.bytes();
}

// The changes MaskAreas is expected to make for one blanked file.
void ExpectBlanked(Bytes& expected, size_t file, size_t length) {
  expected[file + 17] = 0xFF;
  std::memset(expected.data() + file + 28, 0xFF, length);
}

void ClearChipArea(Bytes& expected, size_t descriptor) { std::memset(expected.data() + descriptor + 160, 0, 32); }

TEST(MaskAreas, NoEntriesClearsOnlyTheChipArea) {
  AreaImage a = BuildAreaImage(WithAreas({}), {NamedFile(kAreaFile, 1)});
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  EXPECT_EQ(LocateAndMask(a.image), expected);
}

TEST(MaskAreas, BlanksTheListedLengthOfTheFileBody) {
  AreaImage a =
      BuildAreaImage(WithAreas({{"$SSN", 0x40, kAreaFile}}), {NamedFile(kOtherFile, 1), NamedFile(kAreaFile, 2)});
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  ExpectBlanked(expected, a.files[1], 0x40);
  EXPECT_EQ(LocateAndMask(a.image), expected);
}

TEST(MaskAreas, LengthZeroBlanksOnlyTheChecksumByte) {
  AreaImage a = BuildAreaImage(WithAreas({{"$SSN", 0, kAreaFile}}), {}, {NamedFile(kAreaFile, 2)});
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  expected[a.files[0] + 17] = 0xFF;
  EXPECT_EQ(LocateAndMask(a.image), expected);
}

TEST(MaskAreas, MacAndFwrEntriesAreNeverBlanked) {
  AreaImage a =
      BuildAreaImage(WithAreas({{"$MAC", 0x10, kAreaFile}, {"$FWR", 0x10, kAreaFile}, {"$MAD", 0x10, kOtherFile}}),
                     {NamedFile(kAreaFile, 1), NamedFile(kOtherFile, 2)});
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  ExpectBlanked(expected, a.files[1], 0x10);  // a near-miss tag is an ordinary entry
  EXPECT_EQ(LocateAndMask(a.image), expected);
}

TEST(MaskAreas, OnlyTheFirstFileOfThatNameInTheDescriptorVolume) {
  AreaImage a = BuildAreaImage(WithAreas({{"$SSN", 0x20, kAreaFile}}), {NamedFile(kAreaFile, 1)},
                               {NamedFile(kAreaFile, 2)}, {NamedFile(kAreaFile, 3)});
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  ExpectBlanked(expected, a.files[0], 0x20);  // not the later one, nor the one in the other volume
  EXPECT_EQ(LocateAndMask(a.image), expected);
}

TEST(MaskAreas, WalkEndsAtErasedSpace) {
  AreaImage a = BuildAreaImage(WithAreas({{"$SSN", 0x20, kAreaFile}}), {}, {NamedFile(kOtherFile, 1)});
  // A matching file after an erased header in the same volume.
  const Bytes hidden = NamedFile(kAreaFile, 2);
  const size_t at = 0x4000 + 0x3000;
  Put(a.image, at, hidden);
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  EXPECT_EQ(LocateAndMask(a.image), expected);
}

TEST(MaskAreas, NothingWithoutADescriptor) {
  AreaImage a = BuildAreaImage(WithAreas({{"$SSN", 0x20, kAreaFile}}), {NamedFile(kAreaFile, 1)});
  GuardedBuffer buffer(a.image);
  BiosInfo info = InfoFor(buffer.data(), buffer.size());
  info.AreaTable = buffer.data() + a.descriptor + 192;
  info.Volume = buffer.data() + 0x4000;
  MaskAreas(buffer.data(), &info);
  EXPECT_EQ(buffer.bytes(), a.image);
}

TEST(MaskAreas, StaysInsideTheImage) {
  // The listed file is the last one in a volume that ends at the buffer's
  // end, and the entry's length runs far past it.
  sim::DescriptorSpec spec = WithAreas({{"$SSN", 0x100000, kAreaFile}});
  AreaImage a = BuildAreaImage(spec, {}, {NamedFile(kAreaFile, 1)});
  Bytes expected = a.image;
  ClearChipArea(expected, a.descriptor);
  std::memset(expected.data() + a.files[0] + 28, 0xFF, expected.size() - a.files[0] - 28);
  expected[a.files[0] + 17] = 0xFF;
  EXPECT_EQ(LocateAndMask(a.image), expected);

  // A table claiming 255 entries and an area table placed past the buffer.
  sim::DescriptorSpec many = WithAreas({{"$SSN", 0x10, kAreaFile}});
  many.area_count = 255;
  AreaImage b = BuildAreaImage(many, {NamedFile(kAreaFile, 2)});
  Bytes masked = LocateAndMask(b.image);
  EXPECT_EQ(masked[b.files[0] + 17], 0xFF);

  sim::DescriptorSpec far = WithAreas({});
  far.area_table_offset = 0xFFF0;
  far.area_count = 3;
  AreaImage c = BuildAreaImage(far, {NamedFile(kAreaFile, 3)});
  Bytes expectedFar = c.image;
  ClearChipArea(expectedFar, c.descriptor);
  EXPECT_EQ(LocateAndMask(c.image), expectedFar);
}

}  // namespace
