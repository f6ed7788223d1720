// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff: explains the difference between two saved chips the way the
// board's comparison test sees them, down to the firmware files that differ.
// Exit status: 0 when the board's test would pass, 1 when it would fail,
// 2 on trouble (with one line on standard error; none when the reader of
// standard output has gone).
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

#include "diff/compare/chip_dump.h"
#include "diff/command_line.h"
#include "diff/compare/comparison.h"
#include "diff/report/escaped_text.h"
#include "diff/report/html_page.h"
#include "diff/report/info_json.h"
#include "diff/report/info_report.h"
#include "diff/report/page_bytes_json.h"
#include "diff/report/page_data.h"
#include "diff/report/report.h"
#include "diff/compare/text_format.h"

namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kTrouble = 2;
// No flash part is larger; a descriptor that claims more is not believed.
constexpr uint64_t kLargestRegion = 256ull << 20;

int Trouble(const std::string& message) {
  std::cerr << "pellrix-diff: " << message << "\n";
  return kTrouble;
}

bool Load(pdiff::ChipDump& dump, const std::string& path, const pdiff::CompareOptions& options, std::string* problem) {
  // A part larger than any flash chip is refused before it is mapped,
  // unless the command line says the part is that large.
  const uint64_t largest = options.flashSize ? pdiff::kLargestDump : kLargestRegion;
  if (!dump.Load(path, problem, largest)) {
    *problem = pdiff::EscapedText(path) + ": " + *problem;
    return false;
  }
  return true;
}

// The numbers the command line set, named as it set them, ahead of a
// message about the geometry they make.
std::string GivenSizes(const pdiff::CompareOptions& options) {
  std::string given;
  auto add = [&](const char* option, const auto& value) {
    if (value) given += (given.empty() ? "" : ", ") + std::string(option) + " " + pdiff::Hex(*value);
  };
  add("--flash-size", options.flashSize);
  add("--bios-size", options.biosSize);
  return given.empty() ? "" : given + ": ";
}

bool RegionFits(const pdiff::ChipDump& dump, const pdiff::CompareOptions& options, std::string* problem) {
  const pdiff::Geometry geometry = pdiff::BoardGeometry(dump, options);
  const std::string name = pdiff::EscapedText(dump.path()) + ": " + GivenSizes(options);
  if (geometry.flashSize < geometry.biosSize) {
    *problem = name + "a BIOS region of " + pdiff::Hex(geometry.biosSize) + " bytes cannot lie in a part of " +
               pdiff::Hex(geometry.flashSize);
    return false;
  }
  if (geometry.biosSize <= kLargestRegion && geometry.flashSize <= (uint64_t(1) << 32)) return true;
  *problem = name + "a BIOS region of " + pdiff::Hex(geometry.biosSize) + " bytes in a part of " +
             pdiff::Hex(geometry.flashSize) + " is not believed";
  return false;
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

// The page, when asked for, before the report on standard output.
bool WritePage(const pdiff::Arguments& arguments, const std::function<void(std::ostream&)>& writeData,
               std::string* problem) {
  if (!arguments.htmlPage) return true;
  const std::string version(pdiff::kVersion, std::strlen(pdiff::kVersion) - 1);
  // The page holds the document column by column (see page_data.h).
  const auto writeCompact = [&writeData](std::ostream& out) { pdiff::WritePageData(out, writeData); };
  return pdiff::WriteHtmlPage(*arguments.htmlPage, version, writeCompact, problem);
}

int RunInfo(const pdiff::Arguments& arguments) {
  std::string problem;
  pdiff::ChipDump dump;
  if (!Load(dump, arguments.files[0], arguments.options, &problem)) return Trouble(problem);
  if (!RegionFits(dump, arguments.options, &problem)) return Trouble(problem);
  const auto writeData = [&](std::ostream& out) { pdiff::WriteInfoJson(out, dump); };
  if (!WritePage(arguments, writeData, &problem)) return Trouble(problem);
  if (arguments.json)
    pdiff::WriteInfoJson(std::cout, dump);
  else
    pdiff::PrintInfoReport(std::cout, dump);
  const int trouble = Finish();
  return trouble >= 0 ? trouble : kPass;
}

int RunComparison(const pdiff::Arguments& arguments) {
  std::string problem;
  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  if (!Load(main, arguments.files[0], arguments.options, &problem) ||
      !Load(backup, arguments.files[1], arguments.options, &problem))
    return Trouble(problem);
  for (const pdiff::ChipDump* dump : {&main, &backup}) {
    const std::string trouble = pdiff::GeometryTrouble(*dump, arguments.options);
    if (!trouble.empty()) return Trouble(pdiff::EscapedText(dump->path()) + ": " + trouble);
  }
  if (!RegionFits(main, arguments.options, &problem)) return Trouble(problem);
  // The text lists the first ranges; the JSON writes every range, scanning
  // again beyond the first many: neither holds them all.
  constexpr uint64_t kRangesHeldForJson = 65536;
  pdiff::CompareOptions options = arguments.options;
  options.rangesKept = arguments.json || arguments.htmlPage ? kRangesHeldForJson : arguments.maxRanges;
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, options);
  const auto writeData = [&](std::ostream& out) {
    const pdiff::PageBytes bytes = pdiff::CollectPageBytes(main, backup, comparison, arguments.htmlBytes);
    pdiff::WriteJsonReport(out, main, backup, comparison, arguments.options.rawMasked, pdiff::kPageMostRanges,
                           pdiff::kPageExactRanges,
                           [&](pdiff::JsonStream& stream) { pdiff::WritePageBytes(stream, bytes); });
  };
  if (!WritePage(arguments, writeData, &problem)) return Trouble(problem);
  if (arguments.json)
    pdiff::WriteJsonReport(std::cout, main, backup, comparison, arguments.options.rawMasked);
  else
    pdiff::PrintTextReport(std::cout, main, backup, comparison, arguments.options.rawMasked, arguments.maxRanges);
  const int trouble = Finish();
  if (trouble >= 0) return trouble;
  // A dump cut short is never identical to the part it was read from.
  if (arguments.strict) return comparison.whole.identical && comparison.cutShort.empty() ? kPass : kFail;
  return comparison.verdict.pass ? kPass : kFail;
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
