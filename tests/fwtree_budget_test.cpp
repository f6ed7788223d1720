// SPDX-License-Identifier: BSD-2-Clause-Patent
// The firmware tree's bounds at their edges: the budget's reserve, the
// decoders' output charged to it, and the LZMA dictionary cap, whatever a
// hostile image asks.
#include <gtest/gtest.h>

#include <cstring>

#include "fwtree/firmware_tree.h"
#include "fwtree/lzma_decompress.h"
#include "fwtree/tree_budget.h"
#include "tests/support/firmware_builder.h"

namespace {

using sim::Bytes;
using namespace support;

// Catches: a reserve larger than what remains wrapping the subtraction, so
// that a decoder is given bytes the records were promised.
TEST(TreeBudget, TakeLeavingNeverGivesAwayTheReserve) {
  const struct {
    uint64_t bytes;
    uint64_t reserve;
    bool taken;
  } cases[] = {{10, 200, false}, {10, 90, true}, {11, 90, false}, {0, 100, true}, {0, 101, false}};
  for (const auto& c : cases) {
    fwtree::TreeBudget budget(100);
    EXPECT_EQ(budget.TakeLeaving(c.bytes, c.reserve), c.taken) << c.bytes << " leaving " << c.reserve;
    EXPECT_EQ(budget.remaining(), c.taken ? 100 - c.bytes : 100u);
  }
}

// Catches: the dictionary allocated as large as the header asks; only the
// stream's own length and the cap bound it.
TEST(LzmaDictionary, IsCappedWhateverTheHeaderAsks) {
  auto header = [](uint32_t dictionary, uint64_t length) {
    Bytes bytes(13, 0);
    bytes[0] = 0x5D;
    std::memcpy(bytes.data() + 1, &dictionary, 4);
    std::memcpy(bytes.data() + 5, &length, 8);
    return bytes;
  };
  const struct {
    uint32_t asked;
    uint64_t length;
    uint64_t allocated;
  } cases[] = {{128u << 20, 256ull << 20, fwtree::kLargestLzmaDictionary},
               {1u << 20, 256ull << 20, 1u << 20},
               {128u << 20, 8192, 8192}};
  for (const auto& c : cases) {
    const Bytes bytes = header(c.asked, c.length);
    EXPECT_EQ(fwtree::LzmaDictionarySize(bytes.data(), bytes.size()), c.allocated) << c.asked;
  }
  EXPECT_EQ(fwtree::kLargestLzmaDictionary, 64ull << 20);
}

// Catches: what the decoders produce never charged, so that many small
// sections decode far more than the budget in all.
TEST(TreeBudget, DecodedSectionsTogetherStayWithinTheBudget) {
  std::vector<Bytes> files;
  for (uint32_t n = 0; n < 8; ++n) {
    sim::FileSpec spec;
    spec.name = NumberedGuid(0xB0D60000, n);
    spec.body = Sections({LzmaSection(Sections({sim::Section(sim::kSectionRaw, Bytes(256 << 10, uint8_t(n)))}))});
    files.push_back(sim::BuildFile(spec));
  }
  sim::VolumeSpec volume;
  volume.length = 0x40000;
  volume.files = files;
  const Bytes image = sim::BuildVolume(volume);
  constexpr uint64_t kBudget = 1 << 20;
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(image.data(), image.size(), {.budget = kBudget});
  EXPECT_LE(tree.decodedBytes, kBudget);
  EXPECT_GT(tree.decodedBytes, 0u);
  size_t refused = 0;
  for (const fwtree::TreeFile& file : tree.files)
    for (const std::string& problem : file.problems) refused += problem.find("limit") != std::string::npos;
  EXPECT_GT(refused, 0u);
}

}  // namespace
