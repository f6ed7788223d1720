// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-explain-run: one run of the field kit explained from its RUNnnn
// folder copied off the stick: the on-board result (RESULT.TXT read with the
// kit's own reader), the test's console from the log, pellrix-diff's report
// on the two saved chips (and REPORT.HTML beside them), and the command that
// replays the recorded board.
#pragma once

#include <ostream>
#include <string>

namespace explain {

// The exit statuses, as the workstation's scripts read them.
constexpr int kComplete = 0;    // explained from complete evidence
constexpr int kIncomplete = 1;  // the run was cut short, a piece is missing, cut or unreadable
constexpr int kTrouble = 2;     // no run folder, or the saved chips could not be read

struct ExplainSettings {
  std::string simulator = "pellrix-sim";  // named in the replay command
  std::string toolVersion;                // written into REPORT.HTML
};

// Explains the run folder at `path` to `out`; one line of trouble goes to
// `err`. Returns the exit status.
int ExplainRun(const std::string& path, const ExplainSettings& settings, std::ostream& out, std::ostream& err);

}  // namespace explain
