// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff's command line: options as "--name value" or "--name=value",
// "--" ending the options, numbers in decimal or 0x hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diff/compare/comparison.h"
#include "diff/report/page_bytes.h"

namespace pdiff {

struct Arguments {
  bool json = false;
  bool info = false;
  bool help = false;
  bool version = false;
  bool strict = false;                  // exit 1 for any differing byte, not the board's verdict
  std::optional<std::string> htmlPage;  // --html: also write the report as a page there
  uint64_t maxRanges = 100;
  uint64_t htmlBytes = kPageBytesDefault;  // both chips' bytes the page embeds; 0 none
  CompareOptions options;
  std::vector<std::string> files;
};

extern const char* const kUsage;
extern const char* const kHelp;
extern const char* const kVersion;

// Null with one line in `problem` naming what is wrong.
std::optional<Arguments> ParseArguments(int argc, const char* const* argv, std::string* problem);

}  // namespace pdiff
