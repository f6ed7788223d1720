// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fleet drawn as one self-contained HTML page from the document --json
// writes (embedded once): the groups as bars by size, a matrix of groups
// against the files and variables that differ, each group's first
// differences, failures per day; and for the largest groups whose first
// board's chips differ, that board's Main against Backup drawn as
// pellrix-diff's report page draws it.
#pragma once

#include <string>
#include <vector>

#include "fleet/grouping.h"

namespace fleet {

// Groups whose pair is drawn, largest first: each drawing is a whole
// report page.
constexpr size_t kPairsDrawn = 8;

// Why `target` cannot take the page, or empty: only a new name or an
// earlier page (of this tool or pellrix-diff) is written, never one of the
// `inputs`, a dump, a device, a pipe or a folder.
std::string PageTargetTrouble(const std::string& target, const std::vector<std::string>& inputs);

// Writes the page beside `target` and renames it over (an earlier page
// keeps its mode). False with a one-line `problem`.
bool WriteFleetPage(const std::string& target, const std::vector<std::string>& inputs, const Grouper& grouper,
                    std::string* problem);

}  // namespace fleet
