// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-sim: the tool on a simulated dual-chip board.
//
//   pellrix-sim [SIMULATOR OPTIONS --] [UTILITY ARGUMENTS]
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/board_file.h"
#include "sim/machine.h"
#include "sim/report_file.h"
#include "sim/run_targets.h"
#include "sim/standard_output.h"
#include "sim/vboard/vboard_writer.h"
#include "sim/whole_file.h"
#include "pellrix_version.h"

namespace {

constexpr int kSimulatorError = 2;

const char kUsage[] =
    "Usage: pellrix-sim [SIMULATOR OPTIONS --] [UTILITY ARGUMENTS]\n"
    "\n"
    "Runs the utility against a simulated dual-chip board. Without '--' every\n"
    "argument is the utility's and the built-in sample board is used.\n"
    "\n"
    "Simulator options:\n"
    "  --board FILE         board description (JSON)\n"
    "  --main FILE          Main chip image (a board with every other key at its default)\n"
    "  --backup FILE        Backup chip image (likewise)\n"
    "  --dir DIR            the shell's current directory (default: the current directory)\n"
    "  --report FILE        write the run report as JSON after the run\n"
    "  --write-sample DIR   write the sample board (board.json, main.rom, backup.rom) and exit\n"
    "  --write-vboard DIR   write the board for vboard.efi (VBOARD.BIN, MAIN.ROM, BACK.ROM) and exit\n"
    "  --help               this text\n"
    "  --version            the simulator's version\n";

struct Options {
  std::string board;
  std::string main;
  std::string backup;
  std::string directory = ".";
  std::string report;
  std::string writeSample;
  std::string writeVboard;
  bool help = false;
  bool version = false;
};

int Refuse(const std::string& message) {
  std::fprintf(stderr, "pellrix-sim: %s\n", message.c_str());
  return kSimulatorError;
}

bool ParseOptions(const std::vector<std::string>& words, Options* options, std::string* problem) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "--version") {
      (word == "--help" ? options->help : options->version) = true;
      continue;
    }
    std::string* target = nullptr;
    if (word == "--board")
      target = &options->board;
    else if (word == "--main")
      target = &options->main;
    else if (word == "--backup")
      target = &options->backup;
    else if (word == "--dir")
      target = &options->directory;
    else if (word == "--report")
      target = &options->report;
    else if (word == "--write-sample")
      target = &options->writeSample;
    else if (word == "--write-vboard")
      target = &options->writeVboard;
    if (target == nullptr) {
      *problem = "unknown simulator option '" + word + "' (see --help)";
      return false;
    }
    if (i + 1 >= words.size() || words[i + 1].empty()) {
      *problem = "option " + word + " needs a value";
      return false;
    }
    *target = words[++i];
  }
  if (!options->board.empty() && (!options->main.empty() || !options->backup.empty())) {
    *problem = "--board cannot be combined with --main or --backup";
    return false;
  }
  return true;
}

// Without '--' the words are the utility's, except the command lines that
// run no utility.
bool SimulatorOnly(const std::vector<std::string>& words) {
  return (words.size() == 1 && (words[0] == "--help" || words[0] == "--version")) ||
         (words.size() == 2 && words[0] == "--write-sample");
}

}  // namespace

int main(int argc, char** argv) {
  sim::StandardOutput standardOutput;
  std::vector<std::string> simulatorWords;
  std::vector<std::string> utilityArguments;
  std::vector<std::string> all(argv + 1, argv + argc);
  size_t split = all.size();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i] == "--") {
      split = i;
      break;
    }
  if (split < all.size()) {
    simulatorWords.assign(all.begin(), all.begin() + static_cast<long>(split));
    utilityArguments.assign(all.begin() + static_cast<long>(split) + 1, all.end());
  } else if (SimulatorOnly(all)) {
    simulatorWords = all;
  } else {
    utilityArguments = all;
  }

  Options options;
  std::string problem;
  if (!ParseOptions(simulatorWords, &options, &problem)) return Refuse(problem);
  if (options.help || options.version) {
    static const char kVersion[] = "pellrix-sim " PELLRIX_VERSION "\n";
    if (options.help)
      standardOutput.Write(kUsage, sizeof kUsage - 1);
    else
      standardOutput.Write(kVersion, sizeof kVersion - 1);
    problem = standardOutput.Finish();
    return problem.empty() ? 0 : Refuse(problem);
  }
  sim::BoardError error;
  if (!options.writeSample.empty()) {
    if (!sim::WriteSampleBoard(options.writeSample, &error)) return Refuse(error.message);
    return 0;
  }
  sim::Board board;
  if (!options.board.empty()) {
    if (!sim::LoadBoardFile(options.board, &board, &error)) return Refuse(error.message);
  } else if (!options.main.empty() || !options.backup.empty()) {
    if (!sim::LoadImageBoard(options.main, options.backup, &board, &error)) return Refuse(error.message);
  } else {
    board = sim::SampleBoard();
  }
  if (!options.writeVboard.empty()) {
    if (!vboard::WriteVboard(board, options.writeVboard, &problem)) return Refuse(problem);
    return 0;
  }

  sim::RunTargets targets{options.directory, options.report, {}};
  if (!options.board.empty()) targets.inputs.push_back(options.board);
  for (const sim::Chip* chip : {&board.main, &board.backup})
    if (chip->file) targets.inputs.push_back(chip->file->path);
  if (!sim::CheckRunTargets(targets, &problem)) return Refuse(problem);

  sim::RunResult result;
  {
    sim::Machine machine(std::move(board), options.directory);
    machine.set_console_echo(
        [&standardOutput](const char* text, size_t length) { standardOutput.Write(text, length); });
    result = sim::RunTool(machine, utilityArguments);
  }  // the chip images are unmapped here, before the report is written
  problem = standardOutput.Finish();
  if (!options.report.empty()) {
    std::string report = sim::ReportJson(result.report);
    std::string reportProblem;
    if (!sim::WriteWholeFile(options.report, report.data(), report.size(), &reportProblem) && problem.empty())
      problem = "--report " + reportProblem;
  }
  if (!problem.empty()) return Refuse(problem);
  return result.exit_status;
}
