// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "explain/explain_run.h"

#include <optional>
#include <sstream>
#include <vector>

#include "diff/report/dump_report.h"
#include "diff/report/html_page.h"
#include "diff/report/page_bytes.h"
#include "explain/run_folder.h"
#include "kit/result_text.h"
#include "runtime/exit_status.h"

namespace explain {
namespace {

// The kit's log never grows past 512 KiB and an eighth of the part; a log
// far larger than a 256 MiB part's is not read further.
constexpr uint64_t kLogReadBound = 64ull << 20;
// Lines of the test's console shown; a flood from the field is cut.
constexpr unsigned kMostConsoleLines = 400;
constexpr unsigned kMostEntriesListed = 64;

struct Evidence {
  bool resultPresent = false;
  bool resultUnreadable = false;
  std::string resultProblem;
  std::string resultText;  // kept alive: the reading points into it
  ResultReading reading;
  bool haveResult = false;  // a verdict was read
  std::string verdict;      // "PASS", "FAIL", "UNSUPPORTED", or from the log
  uint32_t comparison = 0;  // 0: not read
  std::optional<uint64_t> partBytes;
  bool logUnreadable = false;
  std::string logProblem;
  bool finished = false;   // the log holds the kit's final screen
  std::string logVerdict;  // "Verdict: X" of the final screen
  std::string lastLogLine;
  bool logCut = false;  // RESULT.TXT says the log stops early
  std::vector<std::string> console;
  uint64_t consoleLeftOut = 0;
  std::vector<std::string> leftovers;  // *.NEW names
  std::vector<std::string> incomplete;
  bool cutShort = false;
};

std::string SpanText(ResultSpan span) { return std::string(span.Data, span.Length); }

std::string Field(const Evidence& evidence, const char* key) {
  if (!evidence.haveResult) return "";
  const ResultField* field = FindResultField(evidence.reading, key);
  return field == nullptr ? "" : SpanText(field->Value);
}

// The log's line as the screen was left: a progress line redrawn after a
// bare CR shows its last drawing; NULs are dropped.
std::string ScreenLine(const std::string& raw) {
  std::string line;
  for (const char c : raw)
    if (c != '\0') line += c;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t cr = line.rfind('\r');
  return cr == std::string::npos ? line : line.substr(cr + 1);
}

void ReadResult(const RunFolder& folder, Evidence* evidence) {
  const RunFolder::Kind kind = folder.KindOf("RESULT.TXT");
  if (kind == RunFolder::Kind::Absent) return;
  evidence->resultPresent = true;
  bool whole = false;
  std::string problem;
  if (!folder.Read("RESULT.TXT", kLongestResultText, &evidence->resultText, &whole, &problem)) {
    evidence->resultUnreadable = true;
    evidence->resultProblem = problem;
    return;
  }
  if (!whole) {
    evidence->resultUnreadable = true;
    evidence->resultProblem = "RESULT.TXT is longer than the kit writes";
    return;
  }
  ReadResultText(evidence->resultText.data(), uint32_t(evidence->resultText.size()), &evidence->reading);
  if (evidence->reading.Problem == ResultProblem::NotText) {
    evidence->resultUnreadable = true;
    evidence->resultProblem = "RESULT.TXT is not text (it holds control bytes)";
    return;
  }
  if (evidence->reading.Problem != ResultProblem::None) return;  // empty: cut short
  evidence->haveResult = true;
  evidence->verdict = SpanText(evidence->reading.Verdict);
  if (const ResultField* field = FindResultField(evidence->reading, "comparison"))
    ParseStepStatus(field->Value, &evidence->comparison);
  const std::string part = Field(*evidence, "part-bytes");
  if (!part.empty() && part.size() <= 12 && part.find_first_not_of("0123456789") == std::string::npos)
    evidence->partBytes = std::stoull(part);
  evidence->logCut = Field(*evidence, "log") == "incomplete";
}

void ReadLog(const RunFolder& folder, Evidence* evidence) {
  unsigned section = 0;
  std::string problem;
  const bool read = folder.ForEachLine(
      "PELLRIX.LOG", kLogReadBound,
      [&](const std::string& raw) {
        const std::string line = ScreenLine(raw);
        if (line.rfind("Press any key to restart the board", 0) == 0) evidence->finished = true;
        if (line.rfind("Verdict: ", 0) == 0 && evidence->logVerdict.empty()) {
          const std::string rest = line.substr(9);
          evidence->logVerdict = rest.substr(0, rest.find(' '));
        }
        if (line.find_first_not_of(" \t") != std::string::npos) evidence->lastLogLine = line;
        if (line.rfind("== ", 0) == 0) {
          ++section;
          return;
        }
        if (section != 1 || line.find_first_not_of(" \t") == std::string::npos) return;
        if (evidence->console.size() < kMostConsoleLines)
          evidence->console.push_back(line);
        else
          ++evidence->consoleLeftOut;
      },
      &problem);
  if (!read) {
    evidence->logUnreadable = true;
    evidence->logProblem = problem;
  }
}

// The status's line: "save-main    0x80 = 128, Success: ...".
std::string StepLine(const std::string& name, const std::string& value, uint32_t status, uint32_t comparison) {
  std::string meaning = ExitStatusName(status);
  if (const ExitStatusEntry* entry = FindExitStatus(status)) meaning += std::string(": ") + entry->Meaning;
  // A save or the record says 0x82 when it could not keep its file: after
  // a failed switch because a chip could not be reached, else for room.
  if (name != "comparison" && status == StatusValue(ExitStatus::Success)) {
    meaning = "Success: kept";
  } else if (name != "comparison") {
    if (status == StatusValue(ExitStatus::NotSupported))
      meaning = comparison == StatusValue(ExitStatus::SwitchFailed)
                    ? "not kept (the switch between chips failed, a chip could not be reached)"
                    : "not kept (no room, or the file system refused it)";
    else
      meaning = "not kept (" + meaning + ")";
  }
  std::string padded = name;
  padded.resize(std::max<size_t>(padded.size(), 12), ' ');
  return "  " + Escaped(padded) + " " + Escaped(value) + " = " + std::to_string(status) + ", " + meaning;
}

std::string Joined(const std::vector<std::string>& parts, const char* joint) {
  std::string all;
  for (const std::string& part : parts) all += (all.empty() ? "" : joint) + part;
  return all;
}

// Why a piece of evidence is not there, as far as the folder tells.
std::string AbsentReason(const Evidence& evidence, const std::string& path, const std::string& piece) {
  if (evidence.cutShort) return "the run was cut short";
  if (evidence.verdict == "PASS")
    return "the comparison test passed, and the kit keeps " + piece + " only when it fails";
  if (evidence.verdict == "FAIL" && evidence.comparison == StatusValue(ExitStatus::SwitchFailed))
    return "the switch between chips failed, so the kit could not reach a chip for " + piece + "; see " + path +
           "/PELLRIX.LOG";
  if (evidence.verdict == "FAIL")
    return "the kit could not keep " + piece + " (no room, or a save or the record failed); see " + path +
           "/PELLRIX.LOG";
  if (evidence.verdict == "UNSUPPORTED")
    return "the board does not support the dual-chip service, so the kit kept nothing";
  return "the kit kept no " + piece + " on this run; see " + path + "/RESULT.TXT";
}

void TellOnBoardResult(const RunFolder& folder, const std::string& path, Evidence* evidence, std::ostream& out) {
  out << "== On-board result (" << path << ")\n";
  if (evidence->cutShort) {
    out << "  verdict unknown: the run was cut short (power lost, key pressed, stick pulled)\n";
    if (evidence->resultPresent && !evidence->resultUnreadable) out << "  RESULT.TXT is empty\n";
    if (!evidence->leftovers.empty()) out << "  a step never ended: " << Joined(evidence->leftovers, " ") << "\n";
    out << "  what is there:\n";
    const std::vector<std::string> entries = folder.Entries();
    for (size_t i = 0; i < entries.size() && i < kMostEntriesListed; ++i) {
      uint64_t size = 0;
      const RunFolder::Kind kind = folder.KindOf(entries[i], &size);
      std::string what = kind == RunFolder::Kind::Regular  ? std::to_string(size) + " bytes"
                         : kind == RunFolder::Kind::Folder ? "a folder"
                         : kind == RunFolder::Kind::Link   ? "a link, not followed"
                                                           : "not a regular file";
      const bool fresh = entries[i].size() > 4 && entries[i].compare(entries[i].size() - 4, 4, ".NEW") == 0;
      out << "    " << Escaped(entries[i]) << " (" << what << ")"
          << (fresh ? ": written when the run stopped, not kept" : "") << "\n";
    }
    if (entries.size() > kMostEntriesListed)
      out << "    ... and " << entries.size() - kMostEntriesListed << " more entries\n";
  }
  if (evidence->resultUnreadable)
    out << "  RESULT.TXT cannot be read (" << evidence->resultProblem << "): verdict unknown\n";
  if (evidence->logUnreadable) out << "  PELLRIX.LOG cannot be read (" << evidence->logProblem << ")\n";
  if (evidence->haveResult) {
    // The verdict line as the kit wrote it, escaped.
    const std::string& text = evidence->resultText;
    const size_t start = text.find_first_not_of(" \t\r\n");
    std::string first = text.substr(start, text.find('\n', start) - start);
    if (!first.empty() && first.back() == '\r') first.pop_back();
    out << "  " << Escaped(first.substr(0, 512)) << "\n";
    const std::string why = Field(*evidence, "why");
    if (!why.empty()) out << "  why: " << Escaped(why) << "\n";
    for (unsigned i = 0; i < evidence->reading.FieldCount && i < 16; ++i) {
      const ResultField& field = evidence->reading.Fields[i];
      uint32_t status = 0;
      if (!ParseStepStatus(field.Value, &status)) continue;
      out << StepLine(SpanText(field.Key), SpanText(field.Value), status, evidence->comparison) << "\n";
    }
  }
  if (evidence->logCut) {
    out << "  the log stops early (the stick refused a write); its last line:\n";
    out << "    " << Escaped(evidence->lastLogLine.substr(0, 200)) << "\n";
    evidence->incomplete.push_back("PELLRIX.LOG stops early");
  }
  if (!evidence->incomplete.empty() && !evidence->cutShort)
    out << "  the evidence is incomplete: " << Joined(evidence->incomplete, "; ") << "\n";
  out << "\nThe comparison test's console:\n";
  for (const std::string& line : evidence->console) out << "  " << Escaped(line) << "\n";
  if (evidence->consoleLeftOut != 0) out << "  ... " << evidence->consoleLeftOut << " more lines not shown\n";
  out << "\n";
}

// The saved chips through pellrix-diff's comparison; the page beside them
// when the folder takes it. False on dumps pellrix-diff cannot read.
bool TellComparison(const RunFolder& folder, const std::string& path, const ExplainSettings& settings,
                    Evidence* evidence, std::ostream& out, std::ostream& err) {
  out << "== pellrix-diff " << Escaped(path) << "/MAIN.BIN " << Escaped(path) << "/BACKUP.BIN\n";
  uint64_t mainSize = 0;
  uint64_t backupSize = 0;
  const RunFolder::Kind mainKind = folder.KindOf("MAIN.BIN", &mainSize);
  const RunFolder::Kind backupKind = folder.KindOf("BACKUP.BIN", &backupSize);
  std::vector<std::string> problems;
  for (const auto& [name, kind] : {std::pair{"MAIN.BIN", mainKind}, std::pair{"BACKUP.BIN", backupKind}})
    if (kind != RunFolder::Kind::Absent && kind != RunFolder::Kind::Regular)
      problems.push_back(std::string(name) + (kind == RunFolder::Kind::Link     ? " is a link (not followed)"
                                              : kind == RunFolder::Kind::Folder ? " is a folder"
                                                                                : " is not a regular file"));
  const bool both = mainKind != RunFolder::Kind::Absent && backupKind != RunFolder::Kind::Absent;
  if (both && problems.empty()) {
    if (evidence->partBytes) {
      if (mainSize != *evidence->partBytes)
        problems.push_back("MAIN.BIN has " + std::to_string(mainSize) + " bytes, the part " +
                           std::to_string(*evidence->partBytes));
      if (backupSize != *evidence->partBytes)
        problems.push_back("BACKUP.BIN has " + std::to_string(backupSize) + " bytes, the part " +
                           std::to_string(*evidence->partBytes));
    } else if (mainSize != backupSize) {
      problems.push_back("MAIN.BIN has " + std::to_string(mainSize) + " bytes, BACKUP.BIN " +
                         std::to_string(backupSize));
    }
  }
  if (!problems.empty()) {
    for (const std::string& problem : problems) {
      out << "  incomplete: " << problem << "\n";
      evidence->incomplete.push_back(problem);
    }
    out << "  the saved chips are not compared: a cut dump would show differences that are not on the board\n\n";
    return true;
  }
  if (!both) {
    if (mainKind != RunFolder::Kind::Absent || backupKind != RunFolder::Kind::Absent)
      out << "  only one chip was saved: " << AbsentReason(*evidence, path, "both chips") << "\n\n";
    else
      out << "  no saved chips: " << AbsentReason(*evidence, path, "the chips") << "\n\n";
    return true;
  }
  // The page goes beside the dumps only as a new file or over a regular
  // file of the run folder: never through a link, never onto anything else.
  std::string pageProblem;
  switch (folder.KindOf("REPORT.HTML")) {
    case RunFolder::Kind::Absent:
      if (!folder.Writable()) pageProblem = "the run folder cannot be written (read-only folder or mount)";
      break;
    case RunFolder::Kind::Regular: break;
    case RunFolder::Kind::Folder: pageProblem = "a folder named REPORT.HTML is in the way"; break;
    case RunFolder::Kind::Link: pageProblem = "REPORT.HTML is a link: not followed, not written"; break;
    case RunFolder::Kind::Other: pageProblem = "REPORT.HTML is not a regular file: not written"; break;
  }
  pdiff::DumpComparisonRequest request;
  request.main = path + "/MAIN.BIN";
  request.backup = path + "/BACKUP.BIN";
  request.toolVersion = settings.toolVersion;
  request.htmlBytes = pdiff::kPageBytesDefault;
  const std::string page = path + "/REPORT.HTML";
  if (pageProblem.empty()) {
    pageProblem = pdiff::HtmlTargetTrouble(page, {request.main, request.backup});
    if (pageProblem.empty()) request.htmlPage = page;
  }
  std::string problem;
  const pdiff::DumpComparisonEnd end = pdiff::CompareDumps(request, out, &problem);
  if (end == pdiff::DumpComparisonEnd::Trouble) {
    err << "pellrix-explain-run: " << problem << "\n";
    out << "  pellrix-diff could not read the saved chips (" << problem << ")\n\n";
    return false;
  }
  if (pageProblem.empty())
    out << "The report as a page: " << Escaped(page) << "\n";
  else
    out << "No REPORT.HTML: " << pageProblem << "\n";
  out << "\n";
  return true;
}

void TellReplay(const RunFolder& folder, const std::string& path, const ExplainSettings& settings,
                const Evidence& evidence, std::ostream& out) {
  out << "== Replay the recorded board\n";
  const RunFolder::Kind record = folder.KindOf("PELLRIX.REC");
  const RunFolder::Kind board =
      record == RunFolder::Kind::Folder ? folder.KindOf("PELLRIX.REC/board.json") : RunFolder::Kind::Absent;
  if (board != RunFolder::Kind::Regular) {
    out << "  no PELLRIX.REC: " << AbsentReason(evidence, path, "a record") << "\n";
    return;
  }
  out << "  " << Escaped(settings.simulator) << " --board " << Escaped(path) << "/PELLRIX.REC/board.json --\n";
  out << "  (any command of the utility after --, e.g. /i or /s 2)\n";
  bool unread = false;
  std::string problem;
  folder.ForEachLine(
      "PELLRIX.REC/board.json", kLogReadBound,
      [&](const std::string& line) { unread = unread || line.find("\"unread\"") != std::string::npos; }, &problem);
  if (unread) out << "  the record lacks a chip that the switch could not reach (\"unread\" in board.json)\n";
}

// A failed comparison keeps both chips and the record: each step that did
// not end with 0x80 (Success) left its piece out, whatever files are there.
void CheckFailureEvidence(const RunFolder& folder, Evidence* evidence) {
  if (evidence->verdict != "FAIL") return;
  std::vector<std::string> notKept;
  for (const char* step : {"save-main", "save-backup", "record"}) {
    const std::string value = Field(*evidence, step);
    uint32_t status = 0;
    const bool kept =
        ParseStepStatus({value.data(), uint32_t(value.size())}, &status) && status == StatusValue(ExitStatus::Success);
    if (!kept) notKept.push_back(std::string(step) + "=" + Escaped(value.empty() ? "(absent)" : value.substr(0, 16)));
  }
  if (!notKept.empty())
    evidence->incomplete.push_back("not every chip or record was kept (" + Joined(notKept, " ") + ")");
  for (const char* piece : {"MAIN.BIN", "BACKUP.BIN", "PELLRIX.REC/board.json"}) {
    const bool recordFolder =
        std::string(piece).rfind("PELLRIX.REC/", 0) != 0 || folder.KindOf("PELLRIX.REC") == RunFolder::Kind::Folder;
    if (!recordFolder || folder.KindOf(piece) != RunFolder::Kind::Regular)
      evidence->incomplete.push_back(std::string(piece) + " is missing");
  }
}

}  // namespace

int ExplainRun(const std::string& path, const ExplainSettings& settings, std::ostream& out, std::ostream& err) {
  RunFolder folder;
  std::string problem;
  if (!folder.Open(path, &problem)) {
    err << "pellrix-explain-run: " << problem << "\n";
    return kTrouble;
  }
  if (folder.KindOf("PELLRIX.LOG") == RunFolder::Kind::Absent) {
    err << "pellrix-explain-run: " << Escaped(path) << " holds no PELLRIX.LOG: not a run folder of the kit\n";
    return kTrouble;
  }
  Evidence evidence;
  ReadResult(folder, &evidence);
  ReadLog(folder, &evidence);
  for (const std::string& name : folder.Entries())
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".NEW") == 0) evidence.leftovers.push_back(Escaped(name));
  if (evidence.resultUnreadable)
    evidence.incomplete.push_back("RESULT.TXT cannot be read");
  else if (evidence.logUnreadable)
    evidence.incomplete.push_back("PELLRIX.LOG cannot be read");
  if (!evidence.resultUnreadable && !evidence.haveResult && evidence.finished) {
    // The kit reached its final screen but could not write RESULT.TXT (the
    // stick was full): the verdict is the log's.
    evidence.verdict = evidence.logVerdict;
    evidence.incomplete.push_back("the run finished but RESULT.TXT could not be written (the stick was full)");
  } else if (!evidence.resultUnreadable && (!evidence.haveResult || !evidence.leftovers.empty())) {
    evidence.cutShort = true;
    evidence.incomplete.push_back("the run was cut short");
  }
  CheckFailureEvidence(folder, &evidence);
  TellOnBoardResult(folder, Escaped(path), &evidence, out);
  const bool dumpsRead = TellComparison(folder, path, settings, &evidence, out, err);
  TellReplay(folder, Escaped(path), settings, evidence, out);
  if (!dumpsRead) return kTrouble;
  return evidence.incomplete.empty() ? kComplete : kIncomplete;
}

}  // namespace explain
