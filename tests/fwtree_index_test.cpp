// SPDX-License-Identifier: BSD-2-Clause-Patent
// The index that places a range in the innermost file answers exactly as a
// scan of every file would (the last file in tree order holding the
// offset), for nested files and for damaged trees whose files overlap.
#include <gtest/gtest.h>

#include <random>

#include "fwtree/file_index.h"

namespace {

const fwtree::TreeFile* ByScan(const fwtree::FirmwareTree& tree, uint64_t offset) {
  const fwtree::TreeFile* found = nullptr;
  for (const fwtree::TreeFile& file : tree.files)
    if (file.offset && *file.offset <= offset && offset - *file.offset < file.size) found = &file;
  return found;
}

TEST(InnermostFileIndex, AgreesWithAScanOnNestedOverlappingAndDecompressedFiles) {
  std::mt19937_64 random(5);
  for (int round = 0; round < 40; ++round) {
    fwtree::FirmwareTree tree;
    const int count = 1 + int(random() % 60);
    for (int i = 0; i < count; ++i) {
      fwtree::TreeFile file;
      if (random() % 5 == 0) {
        file.offset = std::nullopt;  // inside decompressed bytes: never an answer
      } else if (i > 0 && random() % 2 == 0 && tree.files.back().offset && tree.files.back().size > 2) {
        // Nested in the previous file, as a volume image's files are.
        const fwtree::TreeFile& outer = tree.files.back();
        const uint64_t start = *outer.offset + random() % (outer.size / 2);
        file.offset = start;
        file.size = 1 + random() % (*outer.offset + outer.size - start);
      } else {
        file.offset = random() % 4096;
      }
      if (file.size == 0) file.size = random() % 700;  // 0 too: holds nothing
      tree.files.push_back(file);
    }
    const fwtree::InnermostFileIndex index(tree);
    for (uint64_t offset = 0; offset < 5000; ++offset)
      ASSERT_EQ(index.At(offset), ByScan(tree, offset)) << "round " << round << " offset " << offset;
  }
  EXPECT_EQ(fwtree::InnermostFileIndex(fwtree::FirmwareTree{}).At(0), nullptr);
}

}  // namespace
