// SPDX-License-Identifier: BSD-2-Clause-Patent
// The causes of a comparison and what changed inside a changed driver's
// image, as the text report's lines and the JSON report's values.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "diff/compare/causes.h"

namespace pdiff {

// `causes`: kind, chip, evidence, text.
nlohmann::json CausesJson(const CauseAnalysis& analysis);
// A changed file's `image`: both headers, the sections that differ, the
// strings found on one side only.
nlohmann::json ImageChangeJson(const ImageChange& change);
// The same, one line each, to print under the file.
std::vector<std::string> ImageChangeLines(const ImageChange& change);
// The image change of each file of the comparison's list, or null.
std::vector<const ImageChange*> ImagesByFile(const CauseAnalysis& analysis, size_t files);

}  // namespace pdiff
