// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/fleet_page.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "diff/compare/chip_dump.h"
#include "diff/compare/comparison.h"
#include "diff/compare/escaped_text.h"
#include "diff/compare/replaced_file.h"
#include "diff/report/html_page.h"
#include "diff/report/page_data.h"
#include "diff/report/report.h"
#include "fleet/board_check.h"
#include "fleet/command_line.h"

namespace fleet {
namespace {

const char* const kPageHead = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="generator" content="pellrix-fleet">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; frame-src 'self' about: data:">
<title>pellrix-fleet</title>
<style>
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #1d2125; background: #fbfbfc; }
h1 { font-size: 1.3em; margin: 0 0 .3em; }
#summary { color: #444; margin-bottom: 1em; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; vertical-align: top; padding: .35em .6em; border-bottom: 1px solid #dde1e5; }
th { background: #eef1f4; }
td.count { text-align: right; font-variant-numeric: tabular-nums; width: 5em; }
tr.matches td.count { color: #2e7d32; } tr.differs td.count { color: #b3261e; }
ul.boards { margin: .2em 0 0; padding-left: 1.2em; font-family: ui-monospace, monospace; font-size: 12px; }
iframe.pair { width: 100%; height: 640px; border: 1px solid #c9ced3; margin-top: .4em; background: white; }
section { margin-top: 1.5em; }
/* A SHA-256 or a board's path is one long word: it wraps rather than
   widen the page past a phone's screen. */
#summary, td, li { overflow-wrap: anywhere; }
@media (max-width: 600px) { body { margin: .5em; } th, td { padding: .3em .35em; } td.count { width: 3em; } }
</style></head>
<body data-ready="false">
<main>
<h1>pellrix-fleet</h1>
<div id="summary"></div>
<table id="groups"><thead><tr><th>Boards</th><th>What differs from golden</th></tr></thead><tbody></tbody></table>
<section id="runs"></section>
<section id="not-read"></section>
</main>
)PAGE";

const char* const kPageScript = R"PAGE(<script>
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("fleet-data").textContent);
  const element = (tag, text, cls) => { const e = document.createElement(tag); if (text !== undefined) e.textContent = text; if (cls) e.className = cls; return e; };
  document.getElementById("summary").textContent = data.boards + " boards, " + data.matching_golden +
    " matching golden (golden sha256 " + (typeof data.golden === "string" ? data.golden : "several!") + "); exit status " + data.exit_status;
  const body = document.querySelector("#groups tbody");
  data.groups.forEach((group, index) => {
    const row = element("tr");
    row.dataset.group = index;
    const matches = group.signature.every(chip => chip.state === "identical" || chip.state === "masked-only");
    row.className = matches ? "matches" : "differs";
    row.appendChild(element("td", String(group.count), "count"));
    const cell = element("td");
    cell.appendChild(element("div", group.description, "description"));
    const details = element("details");
    details.appendChild(element("summary", group.boards.length < group.count ? "first " + group.boards.length + " of " + group.count + " boards" : group.count === 1 ? "1 board" : group.count + " boards"));
    const list = element("ul", undefined, "boards");
    group.boards.forEach(name => list.appendChild(element("li", name)));
    details.appendChild(list);
    cell.appendChild(details);
    const pair = document.getElementById("pair-" + index);
    if (pair) {
      const shown = element("details", undefined, "pair-holder");
      shown.appendChild(element("summary", "Main against Backup of " + group.boards[0]));
      const frame = element("iframe", undefined, "pair");
      frame.title = "Main against Backup of " + group.boards[0];
      frame.srcdoc = JSON.parse(pair.textContent);
      shown.appendChild(frame);
      cell.appendChild(shown);
    }
    row.appendChild(cell);
    body.appendChild(row);
  });
  const runs = document.getElementById("runs");
  if (data.runs_without_dumps.length) {
    runs.appendChild(element("h2", "Runs without dumps (RESULT.TXT only)"));
    const list = element("ul");
    data.runs_without_dumps.forEach(run => list.appendChild(element("li", run.count + " × " + run.verdict +
      (run.comparison ? " comparison=" + run.comparison : "") + (run.model ? ", model " + run.model : "") +
      (run.version ? ", version " + run.version : "") + ": " + run.runs.slice(0, 3).join(", "))));
    runs.appendChild(list);
  }
  const notRead = document.getElementById("not-read");
  if (data.not_read.length) {
    notRead.appendChild(element("h2", "Not read (" + data.not_read.length + ")"));
    const list = element("ul");
    data.not_read.slice(0, 1000).forEach(entry => list.appendChild(element("li", entry.path + ": " + entry.reason)));
    notRead.appendChild(list);
  }
  document.body.dataset.ready = "true";
})();
</script>
</body></html>
)PAGE";

// JSON with every "<" written as \u003c: inside a string it reads the
// same, and nothing read from a dump can close the script element.
std::string ScriptSafeJson(const nlohmann::json& value) {
  const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '<')
      out += "\\u003c";
    else
      out += c;
  }
  return out;
}

// pellrix-diff's page of one board's Main against Backup, or empty when
// its chips cannot be read again (a name escaped for the record, a file
// gone).
std::string PairPage(const BoardRecord& board, const std::string& folder) {
  if (board.chips.size() != 2 || board.chips[0].sha256.empty() || board.chips[1].sha256.empty() ||
      board.chips[0].sha256 == board.chips[1].sha256 || board.chips[0].size > kLargestChip ||
      board.chips[1].size > kLargestChip)
    return "";
  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  std::string problem;
  if (!main.Load(board.chips[0].path, &problem) || !backup.Load(board.chips[1].path, &problem)) return "";
  const pdiff::CompareOptions plain;
  if (!pdiff::GeometryTrouble(main, plain).empty() || !pdiff::GeometryTrouble(backup, plain).empty()) return "";
  pdiff::CompareOptions options;
  options.rangesKept = 65536;  // as pellrix-diff keeps them for its page
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, options);
  // The report page's writer puts its page in a file: one beside the
  // fleet page, read back and removed.
  std::string temporary = folder + "/.pellrix-fleet-pair.XXXXXX";
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return "";
  close(descriptor);
  const bool written = pdiff::WriteHtmlPage(
      temporary, VersionText().substr(0, VersionText().size() - 1),
      [&](std::ostream& out) {
        pdiff::WritePageData(out, [&](std::ostream& data) {
          pdiff::WriteJsonReport(data, main, backup, comparison, false, pdiff::kPageMostRanges,
                                 pdiff::kPageExactRanges);
        });
      },
      &problem);
  std::ostringstream page;
  if (written) page << std::ifstream(temporary, std::ios::binary).rdbuf();
  std::remove(temporary.c_str());
  return page.str();
}

pdiff::ReplacedFile PageFile(const std::vector<std::string>& inputs) {
  // A page of either tool may be written over; nothing else may.
  return {"--html", inputs, [](std::string_view head) {
            return head.find("<!DOCTYPE html>") != std::string_view::npos &&
                   (head.find("<title>pellrix-fleet</title>") != std::string_view::npos ||
                    head.find("<title>pellrix-diff report</title>") != std::string_view::npos);
          }};
}

}  // namespace

std::string PageTargetTrouble(const std::string& target, const std::vector<std::string>& inputs) {
  std::string destination;
  mode_t mode = 0;
  return pdiff::ReplaceTarget(PageFile(inputs), target, &destination, &mode);
}

bool WriteFleetPage(const std::string& target, const std::vector<std::string>& inputs, const Grouper& grouper,
                    std::string* problem) {
  std::string destination;
  mode_t mode = 0;
  *problem = pdiff::ReplaceTarget(PageFile(inputs), target, &destination, &mode);
  if (!problem->empty()) return false;
  const size_t slash = destination.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : destination.substr(0, slash);
  std::ostringstream json;
  grouper.WriteJson(json);
  return pdiff::ReplaceFile(
      PageFile(inputs), target,
      [&](std::ostream& out) {
        out << kPageHead;
        out << "<script type=\"application/json\" id=\"fleet-data\">"
            << ScriptSafeJson(nlohmann::json::parse(json.str(), nullptr, false)) << "</script>\n";
        size_t drawn = 0;
        size_t index = 0;
        for (const BoardGroup* group : grouper.SortedGroups()) {
          const std::string page = drawn < kPairsDrawn ? PairPage(group->first, folder) : "";
          if (!page.empty()) {
            out << "<script type=\"application/json\" id=\"pair-" << index << "\">" << ScriptSafeJson(page)
                << "</script>\n";
            ++drawn;
          }
          ++index;
        }
        out << kPageScript;
      },
      problem);
}

}  // namespace fleet
