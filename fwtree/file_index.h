// SPDX-License-Identifier: BSD-2-Clause-Patent
// Which file holds an image offset, answered in logarithmic time: the
// reports place every differing range, and a dump may hold hundreds of
// thousands of files.
#pragma once

#include <cstdint>
#include <vector>

#include "fwtree/firmware_tree.h"

namespace fwtree {

class InnermostFileIndex {
 public:
  InnermostFileIndex() = default;
  // The tree must outlive the index and not change.
  explicit InnermostFileIndex(const FirmwareTree& tree);

  // The innermost file with an image offset whose bytes hold `offset` (the
  // last such file in tree order, since a file follows the files holding
  // it); null when none does.
  const TreeFile* At(uint64_t offset) const;

 private:
  // Disjoint, sorted runs of offsets, each with the one file that answers
  // for all of its bytes (or null).
  struct Segment {
    uint64_t begin;
    const TreeFile* file;
  };
  std::vector<Segment> segments_;
};

}  // namespace fwtree
