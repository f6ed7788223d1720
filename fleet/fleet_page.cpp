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
h1 { font-size: 1.3em; margin: 0 0 .3em; } h2 { font-size: 1.1em; margin: 0 0 .4em; } h3 { font-size: 1em; margin: .6em 0 .3em; }
#summary { color: #444; margin-bottom: 1em; }
section { margin-top: 1.5em; }
/* A SHA-256, a board's path or a file's GUID path is one long word: it
   wraps rather than widen the page past a phone's screen. */
#summary, li, td, th, summary, .items, .legend { overflow-wrap: anywhere; }
ol.bars { list-style: none; margin: 0; padding: 0; }
#sizes, #days { max-width: 50em; }
ol.bars li { display: grid; grid-template-columns: 3.2em minmax(0, 1fr) 4em; gap: .5em; align-items: center; margin: .15em 0; }
ol.bars li .about { grid-column: 2 / 4; color: #555; font-size: 12px; margin-top: -.2em; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
.track { background: #eef1f4; height: 1.1em; border-radius: 2px; overflow: hidden; display: flex; }
.bar { display: block; height: 100%; min-width: 2px; }
.differs .bar, .bar.failed { background: #c62828; } .matches .bar { background: #2e7d32; } .bar.passed { background: #9aa5b1; min-width: 0; }
.count { text-align: right; font-variant-numeric: tabular-nums; }
a.group-name { font-weight: 600; color: inherit; }
/* The matrix scrolls inside its box when a fleet has many files. */
.scroll { overflow-x: auto; max-width: 100%; }
table { border-collapse: collapse; }
#matrix th, #matrix td { border: 1px solid #dde1e5; padding: .2em .35em; text-align: center; min-width: 1.6em; }
#matrix thead th, #matrix tbody th { background: #eef1f4; white-space: nowrap; }
#matrix td.changed, #matrix td.moved-and-changed { background: #fde2c8; } #matrix td.moved { background: #d6e6fb; }
#matrix td.missing, #matrix td.deleted, #matrix td.unreadable { background: #f7cfcf; } #matrix td.added { background: #d3efd6; }
#matrix td.differs, #matrix td.mixed, #matrix td.readable-only-on-the-chip, #matrix td.deleted-in-golden { background: #e8dcf5; }
.legend { font-size: 12px; color: #444; padding-left: .4em; margin: .4em 0 0; }
ol.legend { list-style: none; }
.legend b { font-family: ui-monospace, monospace; }
article.group { border-top: 1px solid #dde1e5; padding: .5em 0; }
article.group h3 { margin: 0 0 .2em; }
.tag { font-size: 12px; font-weight: normal; padding: 0 .4em; border-radius: 3px; background: #f7cfcf; color: #7f1d1d; }
ul.items { margin: .1em 0; padding-left: 1.2em; }
ul.boards { margin: .2em 0 0; padding-left: 1.2em; font-family: ui-monospace, monospace; font-size: 12px; }
details > summary { cursor: pointer; color: #1a5fb4; }
iframe.pair { width: 100%; height: 640px; border: 1px solid #c9ced3; margin-top: .4em; background: white; }
#day-bars li { grid-template-columns: 6.2em minmax(0, 1fr) 3.5em; }
@media (max-width: 600px) { body { margin: .5em; } ol.bars li { grid-template-columns: 2.6em minmax(0, 1fr) 3em; } #day-bars li { grid-template-columns: 6.2em minmax(0, 1fr) 3em; } }
</style></head>
<body data-ready="false">
<main>
<h1>pellrix-fleet</h1>
<p id="summary"></p>
<section id="sizes"><h2>Groups by size</h2>
<h3>Differ from golden</h3><ol class="bars" id="bars-differ"></ol>
<h3>Match golden</h3><ol class="bars" id="bars-match"></ol>
</section>
<section id="what-differs" hidden><h2>What differs, group by group</h2>
<div class="scroll"><table id="matrix"><thead></thead><tbody></tbody></table></div>
<p class="legend">~ changed, &rarr; moved, &#x2243; moved and changed, &minus; missing or deleted, + added, ! other; M or B: on Main or Backup only.</p>
<ol class="legend" id="subjects"></ol>
</section>
<section id="days" hidden><h2>Failures per day</h2><ol class="bars" id="day-bars"></ol>
<p class="legend">Red: runs the kit failed; grey: the rest, from RESULT.TXT's date.</p></section>
<section id="groups-section"><h2>Groups</h2><div id="groups"></div></section>
<section id="runs"></section>
<section id="not-read"></section>
</main>
)PAGE";

const char* const kPageScript = R"PAGE(<script>
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("fleet-data").textContent);
  // Every name is set as text, never as markup: they come from dumps and
  // folder names.
  const element = (tag, text, cls) => { const e = document.createElement(tag); if (text !== undefined) e.textContent = text; if (cls) e.className = cls; return e; };
  const plural = (n, one, many) => n + " " + (n === 1 ? one : many);
  document.getElementById("summary").textContent = plural(data.boards, "board", "boards") + ", " + data.matching_golden +
    " matching golden (golden sha256 " + (typeof data.golden === "string" ? data.golden : "several!") + "); exit status " + data.exit_status;
  const groupName = index => "G" + (index + 1);
  const matches = group => group.signature.every(chip => chip.state === "identical" || chip.state === "masked-only");
  const roleLetter = role => role === "Main" ? "M" : role === "Backup" ? "B" : role.charAt(0);

  // A group's differences as short lines: one per file or variable (with
  // the chips it is on when not all), a chip not read, the board's own test.
  const groupItems = group => {
    const items = [];
    const byKey = new Map();
    const differing = group.signature.filter(chip => chip.state !== "identical");
    if (differing.length === 0)
      items.push({ text: group.signature.length === 1 ? "identical to golden" : "both chips identical to golden" });
    differing.forEach(chip => {
      if (chip.state === "masked-only") items.push({ text: chip.role + " differs only in the areas the board masks" });
      else if (chip.state === "trouble") items.push({ text: chip.role + " not read: " + (chip.trouble || "") });
      else chip.differences.forEach(item => {
        let entry = byKey.get(item.key);
        if (!entry) { entry = { key: item.key, text: item.text, roles: [] }; byKey.set(item.key, entry); items.push(entry); }
        entry.roles.push(chip.role);
      });
    });
    const chips = group.signature.length;
    items.forEach(item => { if (item.roles && chips > 1 && item.roles.length < chips) item.shown = item.roles.join(", ") + ": " + item.text; });
    const own = group.main_vs_backup;
    if (own && own.known && !own.pass) items.push({ text: "the board's own test fails (Main against Backup, status 0x" + Number(own.status).toString(16) + ")" });
    return items;
  };
  const itemList = items => {
    const list = element("ul", undefined, "items");
    items.forEach(item => { const li = element("li", item.shown || item.text); if (item.key) li.dataset.key = item.key; list.appendChild(li); });
    return list;
  };

  // Bars by size, on one scale; the groups that match golden apart.
  const largest = Math.max(1, ...data.groups.map(group => group.count));
  data.groups.forEach((group, index) => {
    const fits = matches(group);
    const row = element("li", undefined, fits ? "matches" : "differs");
    row.dataset.group = index;
    const name = element("a", groupName(index), "group-name");
    name.href = "#group-" + index;
    row.appendChild(name);
    const track = element("span", undefined, "track");
    const bar = element("span", undefined, "bar");
    bar.style.width = (100 * group.count / largest) + "%";
    track.appendChild(bar);
    row.appendChild(track);
    row.appendChild(element("span", String(group.count), "count"));
    const first = groupItems(group)[0];
    if (first) row.appendChild(element("span", first.shown || first.text, "about"));
    document.getElementById(fits ? "bars-match" : "bars-differ").appendChild(row);
  });

  // The matrix: one column per file, variable or area, the same one in one
  // column whichever groups it is in; most boards first.
  const columns = new Map();
  data.groups.forEach((group, index) => group.signature.forEach(chip => chip.differences.forEach(item => {
    let column = columns.get(item.subject);
    if (!column) { column = { subject: item.subject, label: item.label, boards: 0, cells: new Map() }; columns.set(item.subject, column); }
    let cell = column.cells.get(index);
    if (!cell) { cell = []; column.cells.set(index, cell); column.boards += group.count; }
    cell.push({ role: chip.role, change: item.change });
  })));
  // A fleet of thousands of groups and files draws the most common ones:
  // the rest are in each group's list below.
  const mostColumns = 60, mostRows = 200;
  const sorted = Array.from(columns.values()).sort((a, b) => b.boards - a.boards || (a.label < b.label ? -1 : a.label > b.label ? 1 : 0));
  const ordered = sorted.slice(0, mostColumns);
  const kinds = { file: "F", variable: "V" };
  const counters = {};
  ordered.forEach(column => {
    const kind = kinds[column.subject.split(" ")[0]] || "A";
    counters[kind] = (counters[kind] || 0) + 1;
    column.name = kind + counters[kind];
  });
  const symbols = { "changed": "~", "moved": "\u2192", "moved and changed": "\u2243", "missing": "\u2212", "deleted": "\u2212", "added": "+" };
  const classes = { "changed": "changed", "moved": "moved", "moved and changed": "moved-and-changed", "missing": "missing", "deleted": "deleted",
    "added": "added", "unreadable": "unreadable", "readable only on the chip": "readable-only-on-the-chip", "deleted in golden": "deleted-in-golden" };
  if (ordered.length) {
    document.getElementById("what-differs").hidden = false;
    const head = element("tr");
    head.appendChild(element("th", "Group"));
    ordered.forEach(column => { const th = element("th", column.name); th.title = column.label; th.dataset.subject = column.subject; head.appendChild(th); });
    document.querySelector("#matrix thead").appendChild(head);
    const body = document.querySelector("#matrix tbody");
    let rows = 0;
    data.groups.forEach((group, index) => {
      if (!group.signature.some(chip => chip.differences.length) || rows++ >= mostRows) return;
      const row = element("tr");
      row.dataset.group = index;
      const th = element("th");
      const link = element("a", groupName(index), "group-name");
      link.href = "#group-" + index;
      th.appendChild(link);
      th.appendChild(document.createTextNode(" (" + group.count + ")"));
      row.appendChild(th);
      ordered.forEach(column => {
        const cell = column.cells.get(index);
        const td = element("td");
        if (cell) {
          const changes = Array.from(new Set(cell.map(c => c.change)));
          const change = changes.join(" / ");
          td.dataset.change = change;
          td.className = changes.length > 1 ? "mixed" : classes[change] || "differs";
          const on = group.signature.length > 1 && cell.length < group.signature.length ? cell.map(c => roleLetter(c.role)).join("") : "";
          td.textContent = (changes.length > 1 ? "!" : symbols[change] || "!") + on;
          td.title = column.label + ": " + cell.map(c => c.role + " " + c.change).join(", ");
          td.setAttribute("aria-label", td.title);
        }
        row.appendChild(td);
      });
      body.appendChild(row);
    });
    const legend = document.getElementById("subjects");
    ordered.forEach(column => {
      const li = element("li");
      li.dataset.subject = column.subject;
      li.appendChild(element("b", column.name));
      li.appendChild(document.createTextNode(" " + column.label + " (" + plural(column.boards, "board", "boards") + ")"));
      legend.appendChild(li);
    });
    if (sorted.length > ordered.length || rows > mostRows)
      legend.appendChild(element("li", "Not drawn: " + plural(Math.max(0, sorted.length - ordered.length), "column", "columns") +
        " and " + plural(Math.max(0, rows - mostRows), "group", "groups") + " with fewer boards (listed under Groups)", "not-drawn"));
  }

  // Failures per day, when RESULT.TXT dates the runs.
  if (data.days && data.days.length) {
    document.getElementById("days").hidden = false;
    const most = Math.max(1, ...data.days.map(day => day.runs));
    const bars = document.getElementById("day-bars");
    data.days.forEach(day => {
      const row = element("li", undefined, "day");
      row.dataset.date = day.date;
      row.dataset.runs = day.runs;
      row.dataset.failed = day.failed;
      row.dataset.differing = day.differing;
      row.appendChild(element("span", day.date, "date"));
      const track = element("span", undefined, "track");
      const failed = element("span", undefined, "bar failed");
      failed.style.width = (100 * day.failed / most) + "%";
      const passed = element("span", undefined, "bar passed");
      passed.style.width = (100 * (day.runs - day.failed) / most) + "%";
      track.appendChild(failed);
      track.appendChild(passed);
      row.appendChild(track);
      row.appendChild(element("span", day.failed + "/" + day.runs, "count"));
      row.appendChild(element("span", plural(day.failed, "run", "runs") + " of " + day.runs + " failed, " +
        plural(day.differing, "board differs", "boards differ") + " from golden", "about"));
      bars.appendChild(row);
    });
  }

  // Each group: its first three differences, the rest a click away, its
  // boards, and its first board's pair when drawn.
  const holder = document.getElementById("groups");
  data.groups.forEach((group, index) => {
    const card = element("article", undefined, "group " + (matches(group) ? "matches" : "differs"));
    card.id = "group-" + index;
    card.dataset.group = index;
    const title = element("h3", groupName(index) + " \u00b7 " + plural(group.count, "board", "boards") + " ");
    const own = group.main_vs_backup;
    if (own && own.known && !own.pass) title.appendChild(element("span", "own test fails", "tag"));
    card.appendChild(title);
    const items = groupItems(group);
    card.appendChild(itemList(items.slice(0, 3)));
    if (items.length > 3) {
      const more = element("details", undefined, "more");
      more.appendChild(element("summary", items.length - 3 + " more"));
      more.appendChild(itemList(items.slice(3)));
      card.appendChild(more);
    }
    const details = element("details", undefined, "board-list");
    details.appendChild(element("summary", group.boards.length < group.count ? "first " + group.boards.length + " of " + group.count + " boards" : group.count === 1 ? "1 board" : group.count + " boards"));
    const list = element("ul", undefined, "boards");
    group.boards.forEach(name => list.appendChild(element("li", name)));
    details.appendChild(list);
    card.appendChild(details);
    const pair = document.getElementById("pair-" + index);
    if (pair) {
      const shown = element("details", undefined, "pair-holder");
      shown.appendChild(element("summary", "Main against Backup of " + group.boards[0]));
      const frame = element("iframe", undefined, "pair");
      frame.title = "Main against Backup of " + group.boards[0];
      frame.srcdoc = JSON.parse(pair.textContent);
      shown.appendChild(frame);
      card.appendChild(shown);
    }
    holder.appendChild(card);
  });

  const runs = document.getElementById("runs");
  if (data.runs_without_dumps.length) {
    runs.appendChild(element("h2", "Runs without dumps (RESULT.TXT only)"));
    const list = element("ul");
    data.runs_without_dumps.forEach(run => list.appendChild(element("li", run.count + " \u00d7 " + run.verdict +
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
