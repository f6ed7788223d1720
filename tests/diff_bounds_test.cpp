// SPDX-License-Identifier: BSD-2-Clause-Patent
// What a hostile value or volume cannot make pellrix-diff do: decode a
// signature database of any number of entries, or drop a file header
// without a word.
#include <gtest/gtest.h>

#include <algorithm>

#include "diff/compare/variable_value.h"
#include "fwtree/firmware_tree.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using sim::Bytes;

constexpr fwtree::Guid kImageSecurityDatabase = fwtree::GuidFromText("D719B2CB-3D3A-4596-A3BC-DAD00E67656F");

void Put32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// EFI_SIGNATURE_LISTs of `perList` entries of one byte each past the owner,
// of a type the decoder does not know (listed as hex).
Bytes TinyEntries(uint32_t lists, uint32_t perList) {
  Bytes value;
  for (uint32_t list = 0; list < lists; ++list) {
    Bytes header(28, 0);
    header[0] = uint8_t(list + 1);
    Put32(header, 16, 28 + 17 * perList);
    Put32(header, 24, 17);
    value.insert(value.end(), header.begin(), header.end());
    for (uint32_t entry = 0; entry < perList; ++entry) {
      value.insert(value.end(), 16, 0x22);
      value.push_back(uint8_t(entry));
    }
  }
  return value;
}

// Catches a db of 900,000 tiny entries decoded and listed whole (3 GiB):
// the first kMostSignatureEntries are, over any number of lists, and the
// rest are counted and said.
TEST(DiffBounds, ASignatureDatabaseListsABoundedNumberOfEntriesAndCountsTheRest) {
  struct Case {
    uint32_t lists;
    uint32_t perList;
  };
  for (const Case& c : {Case{1, 100000}, Case{3, 2000}, Case{1, 4096}, Case{2, 10}}) {
    const uint64_t total = uint64_t(c.lists) * c.perList;
    const pdiff::VariableValue value =
        pdiff::DescribeValue("db", kImageSecurityDatabase, TinyEntries(c.lists, c.perList));
    EXPECT_TRUE(value.problem.empty()) << value.problem;
    const uint64_t listed = std::min<uint64_t>(total, pdiff::kMostSignatureEntries);
    EXPECT_EQ(value.signatures.size(), listed) << total;
    EXPECT_EQ(value.signaturesLeftOut, total - listed);
    ASSERT_TRUE(value.decoded);
    if (total > listed)
      EXPECT_EQ(*value.decoded, std::to_string(total) + " signature entries (the first " + std::to_string(listed) +
                                    " listed, " + std::to_string(total - listed) + " left out)");
    else
      EXPECT_EQ(*value.decoded, std::to_string(total) + " signature entries");
  }
}

// Catches a header written after a volume's free space (an FFSv3 large
// file's in the last 24 bytes) dropped with no problem reported: the walk
// ends at the free space, and says what lies in it.
TEST(DiffBounds, AFileHeaderInAVolumesFreeSpaceIsAProblem) {
  sim::FileSpec large;
  large.name = sim::MakeGuid(0x1A26E000, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});
  large.body = Bytes(64, 0x33);
  const Bytes header = support::BuildLargeFile(large);
  for (uint64_t fromEnd : {uint64_t(24), uint64_t(0x400)}) {
    sim::VolumeSpec spec;
    spec.file_system = support::ToSimGuid(fwtree::kFileSystem3);
    Bytes volume = sim::BuildVolume(spec);
    std::copy(header.begin(), header.begin() + 24, volume.end() - long(fromEnd));
    const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(volume.data(), volume.size());
    ASSERT_EQ(tree.problems.size(), 1u) << fromEnd;
    EXPECT_NE(tree.problems[0].find("not erased in its free space"), std::string::npos) << tree.problems[0];
    // An erased volume says nothing.
    const Bytes erased = sim::BuildVolume(spec);
    EXPECT_TRUE(fwtree::BuildFirmwareTree(erased.data(), erased.size()).problems.empty());
  }
}

}  // namespace
