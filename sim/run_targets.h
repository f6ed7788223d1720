// SPDX-License-Identifier: BSD-2-Clause-Patent
// What a run of pellrix-sim may write, checked before the utility runs: a
// wrong path costs nothing then (no save, no half-written file), and no run
// writes over what it reads.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct RunTargets {
  std::string directory;            // --dir
  std::string report;               // --report, or empty
  std::vector<std::string> inputs;  // the board file and the chip images
};

// False with `problem` (one line naming the option or file) when the
// directory is not one, the report's directory does not exist, or an output
// the run may write (the report; the save's temporary and aside names in the
// directory) is not a regular file where it exists or is one of the inputs.
// The report may not be a file the run saves either.
bool CheckRunTargets(const RunTargets& targets, std::string* problem);

}  // namespace sim
