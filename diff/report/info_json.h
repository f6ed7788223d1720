// SPDX-License-Identifier: BSD-2-Clause-Patent
// The one-dump report as JSON: identity, Intel flash descriptor regions,
// volumes, and every file of the firmware tree in the comparison's shape.
#pragma once

#include <ostream>

#include "diff/compare/chip_dump.h"

namespace pdiff {

// `dump` is loaded and its region not prepared yet.
void WriteInfoJson(std::ostream& out, ChipDump& dump);

}  // namespace pdiff
