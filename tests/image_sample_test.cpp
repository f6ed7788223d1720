// SPDX-License-Identifier: BSD-2-Clause-Patent
// The sample board's chip images: realistic, checksums in force, and equal
// between Main and Backup only after masking.
#include <gtest/gtest.h>

#include <cstring>

#include "image/checksums.h"
#include "image/descriptor_locator.h"
#include "image/masking.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::InfoFor;
using sim::Bytes;
using sim::SampleLayout;

class ImageSample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    main_ = new Bytes(sim::BuildSampleChipImage(false));
    backup_ = new Bytes(sim::BuildSampleChipImage(true));
  }
  static void TearDownTestSuite() {
    delete main_;
    delete backup_;
  }
  static Bytes Region(const Bytes& part) { return Bytes(part.begin() + SampleLayout::kBiosStart, part.end()); }

  static Bytes* main_;
  static Bytes* backup_;
};
Bytes* ImageSample::main_ = nullptr;
Bytes* ImageSample::backup_ = nullptr;

TEST_F(ImageSample, IsBuiltTheSameWayEveryTime) { EXPECT_EQ(sim::BuildSampleChipImage(false), *main_); }

TEST_F(ImageSample, DescriptorIsFoundInTheIdentityVolumeOfBothChips) {
  for (Bytes* part : {main_, backup_}) {
    ASSERT_EQ(part->size(), SampleLayout::kFlashSize);
    Bytes region = Region(*part);
    BiosInfo info = InfoFor(region.data(), region.size());
    ASSERT_EQ(LocateDescriptor(&info), kEfiSuccess);
    EXPECT_EQ(+info.Volume, region.data() + (SampleLayout::kIdentityVolume - SampleLayout::kBiosStart));
    EXPECT_EQ(+info.Descriptor, region.data() + (sim::SampleDescriptorOffset() - SampleLayout::kBiosStart));
    EXPECT_STREQ(info.PartNumber, "PX100A01");
    EXPECT_STREQ(info.Version, "0107");
    EXPECT_STREQ(info.ModelName, "PELLRIX PX-100 REFERENCE");
    EXPECT_EQ(+info.FlashSize, SampleLayout::kFlashSize);
    EXPECT_EQ(+info.BiosSize, SampleLayout::kBiosSize);
    EXPECT_EQ(+info.BlockSize, 0x1000u);
    EXPECT_EQ(+info.BiosOffset, SampleLayout::kBiosStart);
    // The whole part, as the save command reads it, gives the same descriptor.
    BiosInfo whole = InfoFor(part->data(), part->size());
    ASSERT_EQ(LocateDescriptor(&whole), kEfiSuccess);
    EXPECT_EQ(+whole.Descriptor, part->data() + sim::SampleDescriptorOffset());
  }
}

TEST_F(ImageSample, ChecksumsHoldOnBothChips) {
  for (Bytes* part : {main_, backup_}) {
    const uint8_t* d = part->data() + sim::SampleDescriptorOffset();
    ASSERT_EQ(d[99], 1);  // in force
    ASSERT_GE(d[98], 3);
    EXPECT_TRUE(VerifyDescriptorChecksums(part->data(), uint32_t(part->size()), d));
    // The BIOS region alone maps to the same window addresses.
    Bytes region = Region(*part);
    EXPECT_TRUE(VerifyDescriptorChecksums(region.data(), uint32_t(region.size()),
                                          region.data() + (d - part->data()) - SampleLayout::kBiosStart));
  }
  Bytes damaged = *main_;
  damaged[SampleLayout::kDxeVolume + 0x123456] ^= 0x20;
  EXPECT_FALSE(VerifyDescriptorChecksums(damaged.data(), uint32_t(damaged.size()),
                                         damaged.data() + sim::SampleDescriptorOffset()));
}

TEST_F(ImageSample, ChipsDifferOnlyWhereMaskingReaches) {
  const size_t descriptor = sim::SampleDescriptorOffset();
  const size_t serial = sim::SampleSerialFileOffset();
  size_t differing = 0;
  for (size_t i = 0; i < main_->size(); ++i) {
    if ((*main_)[i] == (*backup_)[i]) continue;
    ++differing;
    const bool store =
        i >= SampleLayout::kVariableStore && i < SampleLayout::kVariableStore + 2 * SampleLayout::kVariableStoreLength;
    const bool chipArea = i >= descriptor + 160 && i < descriptor + 192;
    const bool serialBody = i == serial + 17 || (i >= serial + 28 && i < serial + 28 + 64);
    ASSERT_TRUE(store || chipArea || serialBody) << "difference at 0x" << std::hex << i;
  }
  EXPECT_GT(differing, 0u);
}

// The region of `part` after the masks the comparison test applies.
Bytes Masked(const Bytes& part, bool store, bool areas) {
  Bytes region(part.begin() + SampleLayout::kBiosStart, part.end());
  BiosInfo info = InfoFor(region.data(), region.size());
  EXPECT_EQ(LocateDescriptor(&info), kEfiSuccess);
  if (store) MaskVariableStore(region.data(), region.size());
  if (areas) MaskAreas(region.data(), &info);
  return region;
}

TEST_F(ImageSample, MaskingMakesTheChipsEqualAndNeedsBothMasks) {
  EXPECT_TRUE(Masked(*main_, true, true) == Masked(*backup_, true, true));
  EXPECT_FALSE(Masked(*main_, true, false) == Masked(*backup_, true, false));
  EXPECT_FALSE(Masked(*main_, false, true) == Masked(*backup_, false, true));
}

TEST_F(ImageSample, TopOfTheWindowIsNotErased) {
  bool allErased = true;
  for (size_t i = main_->size() - 0x1000; i < main_->size(); ++i) allErased = allErased && (*main_)[i] == 0xFF;
  EXPECT_FALSE(allErased);
}

}  // namespace
