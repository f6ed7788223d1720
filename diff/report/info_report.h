// SPDX-License-Identifier: BSD-2-Clause-Patent
// The description of one dump: identity, descriptor with its checksum and
// area tables, volumes and files with their checksum verdicts, and what the
// board's masking would clear.
#pragma once

#include <ostream>

#include "diff/compare/chip_dump.h"

namespace pdiff {

// `dump` is loaded and its region not prepared yet.
void PrintInfoReport(std::ostream& out, ChipDump& dump);

}  // namespace pdiff
