// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff: explains the difference between two saved chips the way the
// board's comparison test sees them, down to the firmware files that differ.
// Exit status: 0 when the board's test would pass, 1 when it would fail,
// 2 on trouble (with one line on standard error; none when the reader of
// standard output has gone).
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "diff/command_line.h"
#include "diff/report/dump_report.h"
#include "diff/report/escaped_text.h"
#include "diff/report/html_page.h"
#include "diff/report/info_json.h"
#include "diff/report/info_report.h"

namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kTrouble = 2;

int Trouble(const std::string& message) {
  std::cerr << "pellrix-diff: " << message << "\n";
  return kTrouble;
}

int Finish() {
  // Output to a closed pipe fails the stream instead of killing the process.
  if (std::cout.flush()) return -1;
  // A reader that has gone (`| head`) wanted no more: no message, as cmp
  // and the GNU tools say nothing then, but never the status of a pass.
  // Once failed the stream writes nothing more, so errno is the write's.
  if (errno == EPIPE) return kTrouble;
  return Trouble("standard output: write error");
}

std::string ToolVersion() { return std::string(pdiff::kVersion, std::strlen(pdiff::kVersion) - 1); }

int RunInfo(const pdiff::Arguments& arguments) {
  std::string problem;
  pdiff::ChipDump dump;
  if (!pdiff::LoadDump(dump, arguments.files[0], arguments.options, &problem)) return Trouble(problem);
  if (!pdiff::RegionFits(dump, arguments.options, &problem)) return Trouble(problem);
  const auto writeData = [&](std::ostream& out) { pdiff::WriteInfoJson(out, dump); };
  if (!pdiff::WritePageIfAsked(arguments.htmlPage, ToolVersion(), writeData, &problem)) return Trouble(problem);
  if (arguments.json)
    pdiff::WriteInfoJson(std::cout, dump);
  else
    pdiff::PrintInfoReport(std::cout, dump);
  const int trouble = Finish();
  return trouble >= 0 ? trouble : kPass;
}

int RunComparison(const pdiff::Arguments& arguments) {
  pdiff::DumpComparisonRequest request;
  request.main = arguments.files[0];
  request.backup = arguments.files[1];
  request.options = arguments.options;
  request.json = arguments.json;
  request.strict = arguments.strict;
  request.htmlPage = arguments.htmlPage;
  request.maxRanges = arguments.maxRanges;
  request.htmlBytes = arguments.htmlBytes;
  request.toolVersion = ToolVersion();
  std::string problem;
  const pdiff::DumpComparisonEnd end = pdiff::CompareDumps(request, std::cout, &problem);
  if (end == pdiff::DumpComparisonEnd::Trouble) return Trouble(problem);
  const int trouble = Finish();
  if (trouble >= 0) return trouble;
  return end == pdiff::DumpComparisonEnd::Pass ? kPass : kFail;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  // Reports of many ranges are written in many small pieces: standard
  // output gets its own buffer (standard error, tied to it, still flushes
  // it first, so the two keep their order).
  std::ios::sync_with_stdio(false);
  std::string problem;
  const std::optional<pdiff::Arguments> arguments = pdiff::ParseArguments(argc, argv, &problem);
  if (!arguments) {
    std::cerr << "pellrix-diff: " << problem << "\n" << pdiff::kUsage << "\n";
    return kTrouble;
  }
  if (arguments->htmlPage) {
    const std::string trouble = pdiff::HtmlTargetTrouble(*arguments->htmlPage, arguments->files);
    if (!trouble.empty()) return Trouble(trouble);
  }
  if (arguments->help || arguments->version) {
    std::cout << (arguments->help ? pdiff::kHelp : pdiff::kVersion);
    const int trouble = Finish();
    return trouble >= 0 ? trouble : kPass;
  }
  return arguments->info ? RunInfo(*arguments) : RunComparison(*arguments);
}
