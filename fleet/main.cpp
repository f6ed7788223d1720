// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-fleet: many boards' saved chips measured against their golden
// firmware and grouped by what differs. Exit status: 0 every board matches
// golden, 1 some differ, 2 trouble.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "diff/compare/escaped_text.h"
#include "fleet/board_record.h"
#include "fleet/chip_cache.h"
#include "fleet/chip_signature.h"
#include "fleet/command_line.h"
#include "fleet/fleet_page.h"
#include "fleet/fleet_run.h"
#include "fleet/golden_image.h"
#include "fleet/grouping.h"
#include "fleet/linked_chips.h"
#include "fleet/record_reader.h"

namespace {

constexpr int kTrouble = 2;

// Set when the program started with standard output closed.
bool outputClosed = false;

int Trouble(const std::string& message) {
  std::cerr << "pellrix-fleet: " << message << "\n";
  return kTrouble;
}

int Finish(int status) {
  if (outputClosed) return Trouble("standard output: write error");
  // Output to a closed pipe fails the stream instead of killing the process.
  if (std::cout.flush()) return status;
  // A reader that has gone (`| head`) wanted no more: no message, as
  // pellrix-diff, cmp and the GNU tools say nothing then, but never the
  // status of a pass. Once failed the stream writes nothing more, so errno
  // is the write's.
  if (errno == EPIPE) return kTrouble;
  return Trouble("standard output: write error");
}

// Files the run reads, which neither the page nor the cache may replace.
std::vector<std::string> FilesRead(const fleet::Arguments& arguments) {
  std::vector<std::string> files = arguments.inputs;
  if (!arguments.golden.empty()) files.push_back(arguments.golden);
  return files;
}

// The page first, when asked for, then standard output. False when the
// page was not written.
bool WriteGroups(const fleet::Arguments& arguments, const fleet::Grouper& grouper) {
  std::string problem;
  std::vector<std::string> read = FilesRead(arguments);
  if (arguments.cache) read.push_back(*arguments.cache);
  const bool written = !arguments.htmlPage || fleet::WriteFleetPage(*arguments.htmlPage, read, grouper, &problem);
  if (!written) std::cerr << "pellrix-fleet: " << problem << "\n";
  if (arguments.json)
    grouper.WriteJson(std::cout);
  else if (!arguments.jsonl)
    grouper.WriteText(std::cout);
  return written;
}

int RunGroup(const fleet::Arguments& arguments) {
  fleet::Grouper grouper;
  for (const std::string& file : arguments.inputs) {
    const std::string name = fleet::RecordName(file);
    std::string problem;
    const bool read = fleet::ReadLines(
        file,
        [&](const std::string& line, uint64_t number) {
          std::string why;
          const std::optional<fleet::BoardRecord> record = fleet::ParseRecordLine(line, &why);
          if (record)
            grouper.Add(*record);
          else
            grouper.AddNotRead(name + ":" + std::to_string(number), why);
        },
        [&](uint64_t number, const std::string& reason) {
          grouper.AddNotRead(name + ":" + std::to_string(number), reason);
        },
        &problem);
    if (!read) grouper.AddNotRead(name, problem);
  }
  const bool written = WriteGroups(arguments, grouper);
  return Finish(written ? grouper.ExitStatus() : kTrouble);
}

int RunBoards(const fleet::Arguments& arguments) {
  fleet::Golden golden;
  std::string problem;
  const pdiff::CompareOptions options;
  if (!fleet::LoadGolden(arguments.golden, options, &golden, &problem)) return Trouble(problem);
  fleet::ChipCache cache;
  std::string notice;
  std::vector<std::string> read = FilesRead(arguments);
  if (arguments.htmlPage) read.push_back(*arguments.htmlPage);
  if (arguments.cache && !cache.Open(*arguments.cache, golden.sha256 + fleet::kSignatureForm, read, &problem, &notice))
    return Trouble(problem);
  if (!notice.empty()) std::cerr << "pellrix-fleet: " << pdiff::EscapedText(*arguments.cache) << ": " << notice << "\n";
  std::mutex goldenLock;
  fleet::LinkedChips linked;
  fleet::FleetContext context{&golden, &goldenLock, options, arguments.cache ? &cache : nullptr, &linked};
  fleet::Grouper grouper;
  const bool lines = arguments.jsonl || arguments.mode == fleet::Mode::Signature;
  fleet::RunSettings settings;
  settings.jobs = arguments.jobs;
  settings.progress = arguments.mode == fleet::Mode::Run;
  fleet::MeasureInputs(arguments.inputs, context, settings, [&](const fleet::BoardRecord& record) {
    grouper.Add(record);
    if (lines) std::cout << fleet::RecordLine(record) << "\n";
  });
  bool written = true;
  if (arguments.cache && !cache.Save(&problem)) {
    std::cerr << "pellrix-fleet: " << problem << "\n";
    written = false;
  }
  if (arguments.mode == fleet::Mode::Run) written = WriteGroups(arguments, grouper) && written;
  return Finish(written ? grouper.ExitStatus() : kTrouble);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  // A closed standard output is held by /dev/null, so that no file the run
  // opens (a chip, the page, the cache) takes its number and the output;
  // the run ends as on a write error, as pellrix-diff does.
  if (fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
    outputClosed = true;
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0 && null != STDOUT_FILENO) dup2(null, STDOUT_FILENO);
  }
  std::string problem;
  const std::optional<fleet::Arguments> arguments = fleet::ParseArguments(argc, argv, &problem);
  if (!arguments) {
    std::cerr << "pellrix-fleet: " << problem << "\n" << fleet::kUsage << "\n";
    return kTrouble;
  }
  if (arguments->help || arguments->version) {
    std::cout << (arguments->help ? fleet::kHelp : fleet::VersionText());
    return Finish(0);
  }
  // Where the page goes is settled before any board is read.
  if (arguments->htmlPage) {
    std::vector<std::string> read = FilesRead(*arguments);
    if (arguments->cache) read.push_back(*arguments->cache);
    const std::string trouble = fleet::PageTargetTrouble(*arguments->htmlPage, read);
    if (!trouble.empty()) return Trouble(trouble);
  }
  return arguments->mode == fleet::Mode::Group ? RunGroup(*arguments) : RunBoards(*arguments);
}
