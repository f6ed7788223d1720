// The two forms of the comparison report: text for a technician, JSON for
// scripts. Both say the same things.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "diff/chip_dump.h"
#include "diff/comparison.h"

namespace pdiff {

nlohmann::json JsonReport(const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                          bool withRawMasked);
void PrintTextReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked);

// The board's name for an exit status, e.g. "DataMismatch".
const char* StatusName(uint32_t status);

}  // namespace pdiff
