// SPDX-License-Identifier: BSD-2-Clause-Patent
// One board measured: each chip hashed, and compared with golden only when
// its hash differs; Main against Backup as the board's own test would.
#pragma once

#include <cstdint>
#include <mutex>

#include "diff/compare/comparison.h"
#include "fleet/board_record.h"
#include "fleet/golden_image.h"
#include "fleet/input_walk.h"

namespace fleet {

class ChipCache;
class LinkedChips;

// A chip larger than this is no flash part: it is hashed (in pieces) but
// never mapped to be compared.
constexpr uint64_t kLargestChip = 256ull << 20;

struct FleetContext {
  Golden* golden;
  // Golden's buffer is unmasked and masked again by each comparison: one
  // comparison with golden at a time.
  std::mutex* goldenLock;
  pdiff::CompareOptions options;
  ChipCache* cache = nullptr;     // may be null
  LinkedChips* linked = nullptr;  // may be null
};

BoardRecord CheckBoard(const BoardInput& input, const FleetContext& context);

// A record for an input that is no board, with its reason.
BoardRecord TroubleRecord(const std::string& path, const std::string& reason, const std::string& golden);

}  // namespace fleet
