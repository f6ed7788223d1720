// SPDX-License-Identifier: BSD-2-Clause-Patent
// The two forms of the comparison report: text for a technician, JSON for
// scripts. Both say the same things.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>

#include "diff/compare/chip_dump.h"
#include "diff/compare/comparison.h"

namespace pdiff {

class JsonStream;

// The version of the JSON document, its first member ("format"): 2 since
// ranges name their place by index into the document's "places".
constexpr int kJsonFormat = 2;

// Written as it goes: the differences are never held as JSON all at once.
// A list of more than `mostListedRanges` ranges is written as spans of the
// flash instead (`differences_spans`, ...), at most `kMostSpans` of them,
// with the lists' first `mostExactRanges` ranges in all as flat arrays.
// `pageMembers` adds what only a page's document holds, last.
void WriteJsonReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked, uint64_t mostListedRanges = UINT64_MAX, uint64_t mostExactRanges = 0,
                     const std::function<void(JsonStream&)>& pageMembers = nullptr);
constexpr uint64_t kMostSpans = 4096;
// At most `maxRanges` ranges of each list are printed, with the number left out.
void PrintTextReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked, uint64_t maxRanges);

// What the board checks that a dump cannot show.
const char* NotCheckedInADump();

// The Intel flash descriptor's name for the region of Main holding this
// flash offset, or null.
const char* BelowRegionName(const ChipDump& main, uint64_t flashOffset);

}  // namespace pdiff
