// SPDX-License-Identifier: BSD-2-Clause-Patent
// Decoders fill their output as they decode, in a buffer reserved whole but
// grown by doubling: the bytes zeroed ahead of the decoder stay in
// proportion to the ones decoded, so a header that overstates costs little.
#pragma once

#include <algorithm>
#include <cstdint>

namespace fwtree {

inline uint64_t NextOutputSize(uint64_t held, uint64_t limit) {
  constexpr uint64_t kFirstSize = 4096;
  return std::min(limit, std::max(2 * held, kFirstSize));
}

}  // namespace fwtree
