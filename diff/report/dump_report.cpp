// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/dump_report.h"

#include "diff/compare/text_format.h"
#include "diff/report/escaped_text.h"
#include "diff/report/html_page.h"
#include "diff/report/page_bytes_json.h"
#include "diff/report/page_data.h"
#include "diff/report/report.h"

namespace pdiff {
namespace {

// No flash part is larger; a descriptor that claims more is not believed.
constexpr uint64_t kLargestRegion = 256ull << 20;

// The numbers the command line set, named as it set them, ahead of a
// message about the geometry they make.
std::string GivenSizes(const CompareOptions& options) {
  std::string given;
  auto add = [&](const char* option, const auto& value) {
    if (value) given += (given.empty() ? "" : ", ") + std::string(option) + " " + Hex(*value);
  };
  add("--flash-size", options.flashSize);
  add("--bios-size", options.biosSize);
  return given.empty() ? "" : given + ": ";
}

}  // namespace

bool LoadDump(ChipDump& dump, const std::string& path, const CompareOptions& options, std::string* problem) {
  // A part larger than any flash chip is refused before it is mapped,
  // unless the command line says the part is that large.
  const uint64_t largest = options.flashSize ? kLargestDump : kLargestRegion;
  if (!dump.Load(path, problem, largest)) {
    *problem = EscapedText(path) + ": " + *problem;
    return false;
  }
  return true;
}

bool RegionFits(const ChipDump& dump, const CompareOptions& options, std::string* problem) {
  const Geometry geometry = BoardGeometry(dump, options);
  const std::string name = EscapedText(dump.path()) + ": " + GivenSizes(options);
  if (geometry.flashSize < geometry.biosSize) {
    *problem = name + "a BIOS region of " + Hex(geometry.biosSize) + " bytes cannot lie in a part of " +
               Hex(geometry.flashSize);
    return false;
  }
  if (geometry.biosSize <= kLargestRegion && geometry.flashSize <= (uint64_t(1) << 32)) return true;
  *problem = name + "a BIOS region of " + Hex(geometry.biosSize) + " bytes in a part of " + Hex(geometry.flashSize) +
             " is not believed";
  return false;
}

bool WritePageIfAsked(const std::optional<std::string>& target, const std::string& toolVersion,
                      const std::function<void(std::ostream&)>& writeData, std::string* problem) {
  if (!target) return true;
  // The page holds the document column by column (see page_data.h).
  const auto writeCompact = [&writeData](std::ostream& out) { WritePageData(out, writeData); };
  return WriteHtmlPage(*target, toolVersion, writeCompact, problem);
}

DumpComparisonEnd CompareDumps(const DumpComparisonRequest& request, std::ostream& out, std::string* problem) {
  ChipDump main;
  ChipDump backup;
  if (!LoadDump(main, request.main, request.options, problem) ||
      !LoadDump(backup, request.backup, request.options, problem))
    return DumpComparisonEnd::Trouble;
  for (const ChipDump* dump : {&main, &backup}) {
    const std::string trouble = GeometryTrouble(*dump, request.options);
    if (!trouble.empty()) {
      *problem = EscapedText(dump->path()) + ": " + trouble;
      return DumpComparisonEnd::Trouble;
    }
  }
  if (!RegionFits(main, request.options, problem)) return DumpComparisonEnd::Trouble;
  // The text lists the first ranges; the JSON writes every range, scanning
  // again beyond the first many: neither holds them all.
  constexpr uint64_t kRangesHeldForJson = 65536;
  CompareOptions options = request.options;
  options.rangesKept = request.json || request.htmlPage ? kRangesHeldForJson : request.maxRanges;
  const Comparison comparison = Compare(main, backup, options);
  const auto writeData = [&](std::ostream& stream) {
    const PageBytes bytes = CollectPageBytes(main, backup, comparison, request.htmlBytes);
    WriteJsonReport(stream, main, backup, comparison, request.options.rawMasked, kPageMostRanges, kPageExactRanges,
                    [&](JsonStream& json) { WritePageBytes(json, bytes); });
  };
  if (!WritePageIfAsked(request.htmlPage, request.toolVersion, writeData, problem)) return DumpComparisonEnd::Trouble;
  if (request.json)
    WriteJsonReport(out, main, backup, comparison, request.options.rawMasked);
  else
    PrintTextReport(out, main, backup, comparison, request.options.rawMasked, request.maxRanges);
  // A dump cut short is never identical to the part it was read from.
  const bool pass =
      request.strict ? comparison.whole.identical && comparison.cutShort.empty() : comparison.verdict.pass;
  return pass ? DumpComparisonEnd::Pass : DumpComparisonEnd::Fail;
}

}  // namespace pdiff
