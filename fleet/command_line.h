// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-fleet's command line: the whole run, the map step (signature)
// and the reduce step (group).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fleet {

enum class Mode { Run, Signature, Group };

struct Arguments {
  Mode mode = Mode::Run;
  bool json = false;
  bool jsonl = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> cache;
  std::optional<std::string> htmlPage;  // --html: also the groups drawn as one page
  uint32_t jobs = 0;                    // 0: one per core
  std::string golden;
  std::vector<std::string> inputs;  // boards, or for group the record files
};

extern const char* const kUsage;
extern const char* const kHelp;
std::string VersionText();

// Null with one line in `problem`.
std::optional<Arguments> ParseArguments(int argc, const char* const* argv, std::string* problem);

}  // namespace fleet
