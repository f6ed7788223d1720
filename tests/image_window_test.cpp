// SPDX-License-Identifier: BSD-2-Clause-Patent
// LocateDescriptorInWindow on a simulated board's memory-mapped flash.
#include <gtest/gtest.h>

#include <cstring>

#include "image/descriptor_locator.h"
#include "firmware/window_locator.h"
#include "sim/machine.h"
#include "tests/support/image_test_support.h"

namespace {

using image_test::DescriptorVolume;
using image_test::InfoFor;
using image_test::NamedDescriptor;
using sim::Bytes;

constexpr uint32_t kRegionSize = 0x800000;  // 8 MiB: the window from 0xFF800000
constexpr uint32_t kRegionBase = 0xFF800000u;

// A BIOS region with each volume at its window address.
Bytes Region(std::vector<std::pair<uint32_t, Bytes>> volumes) {
  Bytes region(kRegionSize, 0xFF);
  for (auto& [address, bytes] : volumes)
    std::memcpy(region.data() + (address - kRegionBase), bytes.data(), bytes.size());
  return region;
}

sim::Board BoardWith(const Bytes& main, const Bytes& backup = {}) {
  sim::Board board;
  board.main.image = main;
  board.main.flash_size = board.main.bios_size = uint32_t(main.size());
  board.backup.image = backup.empty() ? Bytes(kRegionSize, 0xFF) : backup;
  board.backup.flash_size = board.backup.bios_size = uint32_t(board.backup.image.size());
  return board;
}

BiosInfo InWindow(sim::Machine& machine) {
  BiosInfo info = InfoFor(nullptr, 0);
  LocateDescriptorInWindow(&info);
  EXPECT_EQ(machine.report().window_overruns, 0u);
  return info;
}

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

TEST(WindowLocator, CopiesTheIdentityFieldsOnly) {
  sim::DescriptorSpec spec;
  spec.part_number = "PN000001";
  spec.version = "V2";
  spec.model_name = "WINDOW MODEL";
  spec.aux_word = 0xA1B2;
  spec.aux_byte1 = 0xC3;
  spec.aux_byte2 = 0xD4;
  spec.aux_word2 = 0xE5F6;
  size_t d = 0;
  Bytes volume = DescriptorVolume(spec, 0x10000, &d);
  volume[d + 43] = 'Z';  // after the version's NUL: copied, the window copy is fixed-width
  sim::Machine machine(BoardWith(Region({{0xFFFF0000u, volume}})));
  const BiosInfo info = InWindow(machine);
  EXPECT_EQ(std::string(info.PartNumber, 12), std::string("PN000001\0\0\0\0", 12));
  EXPECT_EQ(std::string(info.Version, 8), std::string("V2\0Z\0\0\0\0", 8));
  EXPECT_STREQ(info.ModelName, "WINDOW MODEL");
  EXPECT_EQ(+info.AuxWord, 0xA1B2);
  EXPECT_EQ(+info.AuxByte1, 0xC3);
  EXPECT_EQ(+info.AuxByte2, 0xD4);
  EXPECT_EQ(+info.AuxWord2, 0xE5F6);
  // Nothing else is written: sizes compare as zeroes.
  image_test::ExpectNotFoundRecord(info);
  EXPECT_TRUE(AllZero(info.FlashPart, sizeof info.FlashPart));
}

TEST(WindowLocator, ReadsTheChipThatIsSelected) {
  sim::Machine machine(BoardWith(Region({{0xFFFF0000u, DescriptorVolume(NamedDescriptor("MAIN"), 0x10000)}}),
                                 Region({{0xFFFF0000u, DescriptorVolume(NamedDescriptor("BACKUP"), 0x10000)}})));
  EXPECT_STREQ(InWindow(machine).ModelName, "MAIN");
  machine.set_active_raw(1);
  EXPECT_STREQ(InWindow(machine).ModelName, "BACKUP");
}

TEST(WindowLocator, LowestVolumeWins) {
  sim::Machine machine(BoardWith(Region({{0xFFF00000u, DescriptorVolume(NamedDescriptor("LOW"), 0x10000)},
                                         {0xFFFF0000u, DescriptorVolume(NamedDescriptor("HIGH"), 0x10000)}})));
  EXPECT_STREQ(InWindow(machine).ModelName, "LOW");
}

TEST(WindowLocator, FirstMatchInAVolumeIsTaken) {
  // Two descriptor files in one volume: the lower one is copied.
  Bytes second = sim::BuildDescriptorFile(NamedDescriptor("SECOND"));
  Bytes volume = DescriptorVolume(NamedDescriptor("FIRST"), 0x10000, nullptr, {}, {second});
  sim::Machine machine(BoardWith(Region({{0xFFFF0000u, volume}})));
  EXPECT_STREQ(InWindow(machine).ModelName, "FIRST");
}

TEST(WindowLocator, OnlyFourByteStepsFromTheVolumeStart) {
  // Two bytes between the section header and the descriptor move it off the
  // 4-byte grid of its volume.
  sim::DescriptorSpec spec = NamedDescriptor("OFF GRID");
  Bytes descriptor = sim::BuildDescriptor(spec);
  sim::FileSpec file;
  file.name = sim::DescriptorFileName();
  file.checksummed = false;
  Bytes body = sim::Section(sim::kSectionRaw, descriptor);
  body.insert(body.begin() + 4, {0x00, 0x00});
  file.body = body;
  sim::VolumeSpec vs;
  vs.length = 0x10000;
  vs.files = {sim::BuildFile(file)};
  std::vector<size_t> offsets;
  Bytes volume = sim::BuildVolume(vs, &offsets);
  ASSERT_NE((offsets[0] + 30) % 4, 0u);
  sim::Machine machine(BoardWith(Region({{0xFFFF0000u, volume}})));
  const BiosInfo info = InWindow(machine);
  EXPECT_TRUE(AllZero(info.ModelName, sizeof info.ModelName));

  // The image search looks at every byte and does find the signatures; it
  // then rejects the descriptor because its file name is not 28 bytes before.
  Bytes copy = volume;
  BiosInfo image = InfoFor(copy.data(), copy.size());
  EXPECT_EQ(LocateDescriptor(&image), kEfiUnsupported);
}

TEST(WindowLocator, NoChecksOfHeaderSumOrFileName) {
  size_t d = 0;
  Bytes volume = DescriptorVolume(NamedDescriptor("UNCHECKED"), 0x10000, &d);
  volume[0] ^= 0xFF;                           // header sum broken
  volume[d - sim::kDescriptorInFile] ^= 0xFF;  // file name no longer the descriptor file's
  sim::Machine machine(BoardWith(Region({{0xFFFF0000u, volume}})));
  EXPECT_STREQ(InWindow(machine).ModelName, "UNCHECKED");
}

TEST(WindowLocator, Examines2047PositionsDownFromTheTopPage) {
  const Bytes volume = DescriptorVolume(NamedDescriptor("LOWEST"), 0x1000);
  {
    sim::Machine machine(BoardWith(Region({{0xFF801000u, volume}})));
    EXPECT_STREQ(InWindow(machine).ModelName, "LOWEST");
  }
  {
    // One page lower, 8 MiB below 4 GiB, is not examined.
    sim::Machine machine(BoardWith(Region({{0xFF800000u, volume}})));
    EXPECT_TRUE(AllZero(InWindow(machine).ModelName, 36));
  }
  {
    // The topmost page is.
    sim::Machine machine(BoardWith(Region({{0xFFFFF000u, volume}})));
    EXPECT_STREQ(InWindow(machine).ModelName, "LOWEST");
  }
}

TEST(WindowLocator, SearchCoversFvLengthAndStopsAtTheTop) {
  // The descriptor lies past the volume's length: not found.
  // The descriptor lies 0x1800 bytes into a volume that claims 0x1000.
  Bytes volume = DescriptorVolume(NamedDescriptor("BEYOND"), 0x10000, nullptr, {image_test::ModuleFile(1, 0x1800)});
  const uint64_t claimed = 0x1000;
  std::memcpy(volume.data() + 32, &claimed, 8);
  Bytes region = Region({{0xFFFE0000u, volume}});
  {
    sim::Machine machine(BoardWith(region));
    EXPECT_TRUE(AllZero(InWindow(machine).ModelName, 36));
  }
  // The same volume claiming an absurd length is searched up to the top of
  // the window and no further.
  const uint64_t huge = ~uint64_t(0);
  std::memcpy(region.data() + (0xFFFE0000u - kRegionBase) + 32, &huge, 8);
  {
    sim::Machine machine(BoardWith(region));
    EXPECT_STREQ(InWindow(machine).ModelName, "BEYOND");
  }
  // A signature pair in the top page whose descriptor would pass 4 GiB.
  Bytes top = Region({});
  sim::VolumeSpec topSpec;
  topSpec.length = 0x1000;
  Bytes topVolume = sim::BuildVolume(topSpec);
  std::memcpy(top.data() + (0xFFFFF000u - kRegionBase), topVolume.data(), topVolume.size());
  const Bytes d = sim::BuildDescriptor(NamedDescriptor("CUT"));
  std::memcpy(top.data() + top.size() - 64, d.data(), 64);
  {
    sim::Machine machine(BoardWith(top));
    EXPECT_TRUE(AllZero(InWindow(machine).ModelName, 36));
  }
}

TEST(WindowLocator, SampleBoardShowsItsIdentity) {
  sim::Board board;
  board.main.image = sim::BuildSampleChipImage(false);
  board.main.flash_size = uint32_t(board.main.image.size());
  board.main.bios_size = sim::SampleLayout::kBiosSize;
  sim::Machine machine(board);
  const BiosInfo info = InWindow(machine);
  EXPECT_STREQ(info.PartNumber, "PX100A01");
  EXPECT_STREQ(info.Version, "0107");
  EXPECT_STREQ(info.ModelName, "PELLRIX PX-100 REFERENCE");
}

}  // namespace
