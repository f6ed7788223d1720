// SPDX-License-Identifier: BSD-2-Clause-Patent
#pragma once

#include <string>

#include "sim/machine.h"

namespace sim {

// The run report as JSON text.
std::string ReportJson(const Report& report);

}  // namespace sim
