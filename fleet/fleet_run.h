// SPDX-License-Identifier: BSD-2-Clause-Patent
// A whole run: the inputs walked, each board measured by the worker pool
// and handed on, in the order they are done, to the grouper and to the
// JSON lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fleet/board_check.h"
#include "fleet/board_record.h"

namespace fleet {

struct RunSettings {
  uint32_t jobs = 0;  // 0: one per core
  bool progress = true;
};

// `done` is called for every record, one at a time.
void MeasureInputs(const std::vector<std::string>& inputs, const FleetContext& context, const RunSettings& settings,
                   const std::function<void(const BoardRecord&)>& done);

}  // namespace fleet
