// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-explain-run RUNnnn: one run of the field kit explained from its
// run folder. Exit status 0 explained from complete evidence, 1 incomplete
// evidence, 2 trouble (no run folder, or dumps pellrix-diff cannot read).
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "explain/explain_run.h"

#ifndef PELLRIX_VERSION
#define PELLRIX_VERSION "0.1.0"
#endif

namespace {

constexpr const char* kUsage = "usage: pellrix-explain-run RUNnnn";

constexpr const char* kHelp =
    "usage: pellrix-explain-run RUNnnn\n"
    "\n"
    "Explains one run of the field kit from its run folder: the on-board result,\n"
    "pellrix-diff's report on the saved chips (and REPORT.HTML beside them), and\n"
    "the command that replays the recorded board. Exit status 0 explained from\n"
    "complete evidence, 1 incomplete evidence, 2 trouble.\n"
    "\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "  --              end of the options\n";

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
  int first = 1;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::cout << kHelp;
    return std::cout.flush() ? 0 : explain::kTrouble;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "pellrix-explain-run " << PELLRIX_VERSION << "\n";
    return std::cout.flush() ? 0 : explain::kTrouble;
  }
  if (argc == 3 && std::strcmp(argv[1], "--") == 0) first = 2;
  // A folder named like an option ("-RUN003") is still a folder.
  if (argc - first != 1 || (first == 1 && std::strncmp(argv[1], "--", 2) == 0)) {
    std::cerr << kUsage << "\n";
    return explain::kTrouble;
  }
  std::string run = argv[first];
  while (run.size() > 1 && run.back() == '/') run.pop_back();
  explain::ExplainSettings settings;
  // An installation or a build names its simulator; the replay command
  // shows it.
  if (const char* simulator = std::getenv("PELLRIX_SIM"); simulator != nullptr && *simulator != '\0')
    settings.simulator = simulator;
  settings.toolVersion = PELLRIX_VERSION;
  const int status = explain::ExplainRun(run, settings, std::cout, std::cerr);
  if (!std::cout.flush()) {
    std::cerr << "pellrix-explain-run: standard output: write error\n";
    return explain::kTrouble;
  }
  return status;
}
