// SPDX-License-Identifier: BSD-2-Clause-Patent
// What changed inside a driver's image, on PE32+ images built with known
// edits (bytes in chosen sections, the time stamp, the debug path, a string
// added on one side), and headers that lie: cut anywhere or with any field
// overwritten, an image is read only inside its own bytes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <set>

#include "diff/compare/pe_image.h"
#include "fwtree/firmware_tree.h"

namespace {

using namespace pdiff;
using Bytes = std::vector<uint8_t>;

void Put(Bytes& bytes, size_t at, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// A PE32+ image: headers, then .text, .data and .rdata (which holds the
// debug directory and its CodeView record), each at the same file offset
// as its address.
constexpr size_t kPe = 0x40, kOptional = kPe + 24, kSections = kOptional + 0xF0;
constexpr size_t kText = 0x200, kData = 0x400, kRdata = 0x600, kEnd = 0x700;

Bytes BuildImage(uint32_t timeStamp, const std::string& debugPath, uint32_t seed) {
  Bytes image(kEnd, 0);
  std::mt19937 random(seed);
  for (size_t i = kText; i < kRdata; ++i) image[i] = uint8_t(random() % 0x1F);  // nothing printable
  image[0] = 'M';
  image[1] = 'Z';
  Put(image, 0x3C, kPe, 4);
  std::memcpy(image.data() + kPe, "PE\0\0", 4);
  Put(image, kPe + 4, 0x8664, 2);
  Put(image, kPe + 6, 3, 2);
  Put(image, kPe + 8, timeStamp, 4);
  Put(image, kPe + 20, 0xF0, 2);
  Put(image, kOptional, 0x20B, 2);
  Put(image, kOptional + 56, kEnd, 4);
  Put(image, kOptional + 108, 16, 4);
  Put(image, kOptional + 112 + 6 * 8, kRdata, 4);  // the debug directory
  Put(image, kOptional + 112 + 6 * 8 + 4, 28, 4);
  const struct {
    const char* name;
    size_t at, size;
  } sections[] = {{".text", kText, 0x200}, {".data", kData, 0x200}, {".rdata", kRdata, 0x100}};
  for (size_t i = 0; i < 3; ++i) {
    const size_t entry = kSections + i * 40;
    std::memcpy(image.data() + entry, sections[i].name, std::strlen(sections[i].name));
    Put(image, entry + 8, sections[i].size, 4);
    Put(image, entry + 12, sections[i].at, 4);
    Put(image, entry + 16, sections[i].size, 4);
    Put(image, entry + 20, sections[i].at, 4);
  }
  const size_t record = kRdata + 0x20;
  Put(image, kRdata + 12, 2, 4);  // CodeView
  Put(image, kRdata + 16, 24 + debugPath.size() + 1, 4);
  Put(image, kRdata + 20, record, 4);
  Put(image, kRdata + 24, record, 4);
  std::memcpy(image.data() + record, "RSDS", 4);
  for (size_t i = 0; i < 16; ++i) image[record + 4 + i] = uint8_t(seed + i);
  Put(image, record + 20, 1, 4);
  std::memcpy(image.data() + record + 24, debugPath.data(), debugPath.size());
  return image;
}

fwtree::TreeFile FileOf(const Bytes& image) {
  fwtree::TreeFile file;
  file.image = image.data();
  file.imageSize = image.size();
  return file;
}

// Catches: bytes counted in the wrong section or not at all, a rebuild
// told from a field that did not change (or missed from one that did), a
// string present on both sides listed as one side's.
TEST(DiffPeImage, KnownEditsAreFoundSectionBySectionWithWhatSetsTheBuildsApart) {
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const bool newStamp = random() % 2, newPath = random() % 2;
    const Bytes main = BuildImage(0x5F000000, "c:/build/a/Driver.pdb", 7);
    Bytes backup =
        BuildImage(newStamp ? 0x65000000 : 0x5F000000, newPath ? "c:/build/b/Driver.pdb" : "c:/build/a/Driver.pdb", 7);
    std::set<size_t> text, data;
    while (text.size() < 1 + random() % 40) text.insert(kText + random() % 0x200);
    while (data.size() < random() % 10) data.insert(kData + 0x40 + random() % 0x1C0);
    for (size_t at : text) backup[at] ^= uint8_t(1 + random() % 255);
    for (size_t at : data) backup[at] ^= uint8_t(1 + random() % 255);
    std::memcpy(backup.data() + kData, "BackupOnlyText", 14);  // 14 printable bytes, then non-printable ones

    uint64_t budget = 1 << 20;
    const std::optional<ImageChange> change = CompareImages(FileOf(main), FileOf(backup), &budget);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->main.problem, "");
    EXPECT_EQ(change->backup.problem, "");
    std::vector<std::pair<std::string, uint64_t>> sections;
    for (const SectionChange& section : change->sections) sections.push_back({section.name, section.differingBytes});
    std::vector<std::pair<std::string, uint64_t>> expected = {{".text", text.size()}};
    uint64_t dataBytes = data.size();
    for (size_t i = 0; i < 14; ++i) dataBytes += main[kData + i] != backup[kData + i];
    if (dataBytes > 0) expected.push_back({".data", dataBytes});
    if (newPath) expected.push_back({".rdata", 1});  // "a" became "b"
    EXPECT_EQ(sections, expected);

    std::vector<std::string> rebuiltBy;
    if (newStamp) rebuiltBy.push_back("time stamp");
    if (newPath) rebuiltBy.push_back("debug path");
    EXPECT_EQ(change->rebuiltBy, rebuiltBy);
    EXPECT_EQ(change->rebuilt, newStamp || newPath);
    EXPECT_EQ(change->main.debugPath, "c:/build/a/Driver.pdb");
    EXPECT_EQ(change->main.timeStamp, 0x5F000000u);
    EXPECT_EQ(change->onlyInMain.empty(), !newPath);
    ASSERT_FALSE(change->onlyInBackup.empty());
    EXPECT_EQ(change->onlyInBackup.front(), "BackupOnlyText");
  }
}

// Catches: a read past the image through a header field that points
// outside it. The image ends where an unreadable page begins, so such a
// read ends the test; every cut and every overwritten header byte is tried.
TEST(DiffPeImage, AHeaderThatLiesIsSaidAndNeverFollowedOutsideTheImage) {
  const long page = sysconf(_SC_PAGESIZE);
  const size_t room = (kEnd / size_t(page) + 2) * size_t(page);
  uint8_t* area = static_cast<uint8_t*>(
      mmap(nullptr, room + size_t(page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  ASSERT_EQ(mprotect(area + room, size_t(page), PROT_NONE), 0);
  const Bytes image = BuildImage(1, "x.pdb", 3);
  auto read = [&](const Bytes& bytes, size_t length) {
    uint8_t* at = area + room - length;
    std::memcpy(at, bytes.data(), length);
    return ReadPeHeaders(at, length, false);
  };
  for (size_t length = 0; length <= image.size(); ++length) {
    const PeHeaders headers = read(image, length);
    // Cut inside the headers or the debug record: said, not guessed.
    if (length < kSections + 3 * 40) {
      EXPECT_NE(headers.problem, "") << length;
    }
  }
  std::mt19937 random(5);
  for (size_t at = 0; at < kSections + 3 * 40; ++at)
    for (int trial = 0; trial < 4; ++trial) {
      Bytes lying = image;
      lying[at] = uint8_t(random());
      read(lying, lying.size());
    }
  const PeHeaders te = ReadPeHeaders(image.data(), image.size(), true);
  EXPECT_NE(te.problem, "");  // not a TE image
  munmap(area, room + size_t(page));
}

}  // namespace
