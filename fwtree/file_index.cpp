// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/file_index.h"

#include <algorithm>
#include <queue>

namespace fwtree {

InnermostFileIndex::InnermostFileIndex(const FirmwareTree& tree) {
  // A sweep over the files' starts and ends: at each boundary the answer is
  // the latest file in tree order among those open there. Ends are removed
  // lazily from the heap, so the sweep costs n log n whatever the nesting
  // (a damaged image may hold overlapping files that do not nest).
  struct Boundary {
    uint64_t at;
    size_t file;
    bool opens;
  };
  std::vector<Boundary> boundaries;
  for (size_t i = 0; i < tree.files.size(); ++i) {
    const TreeFile& file = tree.files[i];
    if (!file.offset || file.size == 0) continue;
    boundaries.push_back({*file.offset, i, true});
    boundaries.push_back({*file.offset + file.size, i, false});
  }
  std::sort(boundaries.begin(), boundaries.end(), [](const Boundary& a, const Boundary& b) { return a.at < b.at; });

  std::priority_queue<size_t> open;
  std::vector<bool> closed(tree.files.size(), false);
  for (size_t i = 0; i < boundaries.size();) {
    const uint64_t at = boundaries[i].at;
    for (; i < boundaries.size() && boundaries[i].at == at; ++i) {
      if (boundaries[i].opens)
        open.push(boundaries[i].file);
      else
        closed[boundaries[i].file] = true;
    }
    while (!open.empty() && closed[open.top()]) open.pop();
    const TreeFile* answer = open.empty() ? nullptr : &tree.files[open.top()];
    if (segments_.empty() || segments_.back().file != answer) segments_.push_back({at, answer});
  }
}

const TreeFile* InnermostFileIndex::At(uint64_t offset) const {
  auto after = std::upper_bound(segments_.begin(), segments_.end(), offset,
                                [](uint64_t value, const Segment& segment) { return value < segment.begin; });
  return after == segments_.begin() ? nullptr : (after - 1)->file;
}

}  // namespace fwtree
