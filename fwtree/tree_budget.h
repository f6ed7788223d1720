// SPDX-License-Identifier: BSD-2-Clause-Patent
// What one firmware tree may still hold: the bytes its decoders produce and
// its own records (files, volumes, names, problems) draw on one budget, so a
// hostile image can make the walk neither allocate nor work without end.
// A decoder reserves what its header states before it allocates and gives
// back what it did not produce; a decode that fails is charged what it
// produced, which bounds the work of the next attempts too.
#pragma once

#include <cstdint>

namespace fwtree {

class TreeBudget {
 public:
  explicit TreeBudget(uint64_t bytes) : remaining_(bytes) {}

  // Reserves `bytes`; false (nothing reserved) when fewer are left.
  bool Take(uint64_t bytes) {
    if (bytes > remaining_) return false;
    remaining_ -= bytes;
    return true;
  }
  // Reserves `bytes` for a decoder only when `reserve` more stay for the
  // records of what it decodes.
  bool TakeLeaving(uint64_t bytes, uint64_t reserve) {
    if (reserve > remaining_ || bytes > remaining_ - reserve) return false;
    remaining_ -= bytes;
    return true;
  }
  // Returns bytes reserved but not used.
  void Give(uint64_t bytes) { remaining_ += bytes; }
  uint64_t remaining() const { return remaining_; }

 private:
  uint64_t remaining_;
};

}  // namespace fwtree
