// SPDX-License-Identifier: BSD-2-Clause-Patent
// A real PI firmware image: Debian's OVMF build (package ovmf). Its layout,
// as a firmware image tool reports it: two top-level volumes, FVMAIN_COMPACT
// at 0 (0x348000 bytes, extended header, one volume-image file followed by
// free space) and SECFV at 0x348000 (0x34000 bytes, four files ending with
// the volume top file exactly at the volume's end). No file carries the
// checksum attribute and there is no "$BDR" descriptor.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "image/descriptor_locator.h"
#include "image/masking.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::GuardedBuffer;
using image_test::InfoFor;
using sim::Bytes;

constexpr size_t kImageSize = 0x37C000;
constexpr size_t kMainVolume = 0;
constexpr size_t kMainVolumeLength = 0x348000;
constexpr size_t kMainFreeSpace = 0x171088;  // first byte after the volume-image file
constexpr size_t kSecVolume = 0x348000;
constexpr size_t kSecVolumeLength = 0x34000;
constexpr size_t kSecTopFile = kSecVolume + 0x33A88;

Bytes LoadOvmf() {
  const char* env = std::getenv("PELLRIX_OVMF_CODE");
  const std::string path = env != nullptr ? env : "/usr/share/OVMF/OVMF_CODE_4M.fd";
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class ImageOvmf : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = LoadOvmf();
    if (image_.empty()) GTEST_SKIP() << "OVMF_CODE_4M.fd not installed (package ovmf)";
    ASSERT_EQ(image_.size(), kImageSize);
  }
  Bytes image_;
};

uint64_t VolumeLength(const Bytes& image, size_t at) {
  uint64_t v;
  std::memcpy(&v, image.data() + at + 32, 8);
  return v;
}

TEST_F(ImageOvmf, VolumesAreWhereTheImageToolPutsThem) {
  std::vector<size_t> signatures;
  for (size_t back = 0x1000; back <= image_.size(); back += 0x1000)
    if (std::memcmp(image_.data() + image_.size() - back + 40, "_FVH", 4) == 0)
      signatures.push_back(image_.size() - back);
  EXPECT_EQ(signatures, (std::vector<size_t>{kSecVolume, kMainVolume}));
  EXPECT_EQ(VolumeLength(image_, kMainVolume), kMainVolumeLength);
  EXPECT_EQ(VolumeLength(image_, kSecVolume), kSecVolumeLength);
}

TEST_F(ImageOvmf, BothVolumesPassTheFileWalk) {
  GuardedBuffer buffer(image_);
  EXPECT_TRUE(ValidateVolumeFiles(buffer.data() + kMainVolume, buffer.end()));
  EXPECT_TRUE(ValidateVolumeFiles(buffer.data() + kSecVolume, buffer.end()));

  // The walk reaches SECFV's last file, which ends at the buffer's end: with
  // the checksum attribute turned on (and the header sum kept) its fixed
  // 0xAA data checksum no longer holds.
  Bytes forced = image_;
  ASSERT_EQ(forced[kSecTopFile + 17], 0xAA);
  forced[kSecTopFile + 19] |= 0x40;
  forced[kSecTopFile + 16] -= 0x40;
  GuardedBuffer forcedBuffer(forced);
  EXPECT_FALSE(ValidateVolumeFiles(forcedBuffer.data() + kSecVolume, forcedBuffer.end()));
  EXPECT_TRUE(ValidateVolumeFiles(forcedBuffer.data() + kMainVolume, forcedBuffer.end()));
}

TEST_F(ImageOvmf, HasNoDescriptorAndNoVariableStore) {
  GuardedBuffer buffer(image_);
  BiosInfo info = InfoFor(buffer.data(), buffer.size());
  EXPECT_EQ(LocateDescriptor(&info), kEfiNotFound);
  image_test::ExpectNotFoundRecord(info);
  MaskVariableStore(buffer.data(), buffer.size());
  EXPECT_EQ(buffer.bytes(), image_);
}

TEST_F(ImageOvmf, InsertedDescriptorFileIsFound) {
  sim::DescriptorSpec spec;
  spec.model_name = "OVMF WITH DESCRIPTOR";
  spec.flash_size = spec.bios_size = uint32_t(kImageSize);
  const Bytes file = sim::BuildDescriptorFile(spec, /*checksummed=*/true);
  Bytes image = image_;
  ASSERT_EQ(image[kMainFreeSpace + 20], 0xFF);  // erased space
  std::memcpy(image.data() + kMainFreeSpace, file.data(), file.size());
  {
    GuardedBuffer buffer(image);
    BiosInfo info = InfoFor(buffer.data(), buffer.size());
    ASSERT_EQ(LocateDescriptor(&info), kEfiSuccess);
    EXPECT_EQ(+info.Volume, buffer.data() + kMainVolume);
    EXPECT_EQ(+info.Descriptor, buffer.data() + kMainFreeSpace + sim::kDescriptorInFile);
    EXPECT_STREQ(info.ModelName, "OVMF WITH DESCRIPTOR");
    EXPECT_EQ(+info.HasBiosOffset, 0);
  }
  // The inserted file carries checksums: a damaged body fails the volume.
  image[kMainFreeSpace + sim::kDescriptorInFile + 70] ^= 0x01;
  GuardedBuffer damaged(image);
  BiosInfo info = InfoFor(damaged.data(), damaged.size());
  EXPECT_EQ(LocateDescriptor(&info), kEfiNotFound);
}

}  // namespace
