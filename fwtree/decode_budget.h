// How many decompressed bytes one dump may still produce. Shared by every
// decoder run while a tree is built, so a hostile image cannot make the walk
// allocate without end.
#pragma once

#include <cstdint>

namespace fwtree {

constexpr uint64_t kDefaultDecodeBudget = 256ull << 20;

class DecodeBudget {
 public:
  explicit DecodeBudget(uint64_t bytes = kDefaultDecodeBudget) : remaining_(bytes) {}

  // Reserves `bytes`; false (nothing reserved) when fewer are left.
  bool Take(uint64_t bytes) {
    if (bytes > remaining_) return false;
    remaining_ -= bytes;
    return true;
  }
  uint64_t remaining() const { return remaining_; }

 private:
  uint64_t remaining_;
};

}  // namespace fwtree
