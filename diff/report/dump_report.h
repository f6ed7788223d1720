// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff's work on two saved chips, from loading them to the report
// and the page: the program's command line and the field kit's explain step
// both run it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "diff/compare/chip_dump.h"
#include "diff/compare/comparison.h"

namespace pdiff {

// Loads `path`, refusing a part larger than any flash chip unless the
// options give the part's size. False with a one-line `problem`.
bool LoadDump(ChipDump& dump, const std::string& path, const CompareOptions& options, std::string* problem);

// False with a one-line `problem` when the geometry the options and the
// dump make cannot be believed.
bool RegionFits(const ChipDump& dump, const CompareOptions& options, std::string* problem);

// Writes the page to `target` when one is given (see html_page.h).
bool WritePageIfAsked(const std::optional<std::string>& target, const std::string& toolVersion,
                      const std::function<void(std::ostream&)>& writeData, std::string* problem);

struct DumpComparisonRequest {
  std::string main;
  std::string backup;
  CompareOptions options;
  bool json = false;
  bool strict = false;                  // fail on any differing byte, not the board's verdict
  std::optional<std::string> htmlPage;  // also the page there
  uint64_t maxRanges = 100;
  uint64_t htmlBytes = 0;
  std::string toolVersion;
};

enum class DumpComparisonEnd { Pass, Fail, Trouble };

// Compares the two dumps and writes the report to `out` (the page first, when
// asked). Trouble with a one-line `problem`: a dump not read, a geometry not
// believed, the page not written.
DumpComparisonEnd CompareDumps(const DumpComparisonRequest& request, std::ostream& out, std::string* problem);

}  // namespace pdiff
