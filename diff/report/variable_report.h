// SPDX-License-Identifier: BSD-2-Clause-Patent
// The variables that differ, in the text report and in JSON. Nothing is
// printed for dumps without an EDK2 variable store volume.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "diff/compare/variable_changes.h"

namespace pdiff {

struct Geometry;

// "Variables: ..." for the summary at the top.
void PrintVariableSummary(std::ostream& out, const VariableComparison& variables);
// The section "Variables that differ": stores not read (with the reason),
// the variables by name and vendor GUID, and the fault-tolerant-write areas
// that differ.
void PrintVariableChanges(std::ostream& out, const VariableComparison& variables);

// The `variables` array.
nlohmann::json VariablesJson(const VariableComparison& variables);
// The `variable_stores` array: each dump's stores, how they were read.
nlohmann::json VariableStoresJson(const VariableComparison& variables);
// One dump's stores with every variable they hold, deleted copies too, for
// the one-dump report: `variable_stores` of `--info --json`.
nlohmann::json StoreListingJson(const Geometry& geometry, const ChipDump& dump);
// variables_changed, variables_only_in_main, ... added to the summary.
void AddVariableCounts(nlohmann::json& summary, const VariableComparison& variables);

}  // namespace pdiff
