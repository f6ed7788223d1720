// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/grouping.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "diff/compare/escaped_text.h"
#include "diff/compare/text_format.h"
#include "fleet/chip_signature.h"

namespace fleet {
namespace {

constexpr size_t kItemsInText = 8;

void KeepName(std::set<std::string>* names, const std::string& name) {
  names->insert(name);
  if (names->size() > kNamesKept) names->erase(std::prev(names->end()));
}

std::string ChipPart(const ChipRecord& chip, bool alone) {
  const std::string who = alone ? std::string("the dump") : chip.role;
  switch (chip.state) {
    case ChipState::Identical: return who + " identical to golden";
    case ChipState::MaskedOnly: return who + " differs only in the areas the board masks";
    case ChipState::Trouble: return who + " not read: " + chip.trouble;
    case ChipState::Differs: break;
  }
  // The causes lead ("Backup bit errors in PeiCore"), then what differs.
  std::string causes;
  std::vector<const SignatureItem*> items;
  for (const SignatureItem& item : chip.items) {
    if (item.key.rfind(kCauseKeyPrefix, 0) == 0)
      causes += (causes.empty() ? who + " " : ", ") + item.text;
    else
      items.push_back(&item);
  }
  std::string text = causes.empty() ? who + " differs: " : causes + "; " + who + " differs: ";
  for (size_t i = 0; i < items.size() && i < kItemsInText; ++i) text += (i ? ", " : "") + items[i]->text;
  if (items.size() > kItemsInText) text += " and " + std::to_string(items.size() - kItemsInText) + " more";
  if (items.empty()) text.resize(causes.size());
  return text;
}

}  // namespace

std::string GroupKey(const BoardRecord& record) {
  std::string key;
  for (const ChipRecord& chip : record.chips) {
    key += chip.role + ":" + ChipStateName(chip.state);
    if (chip.state == ChipState::Trouble) key += ":" + chip.trouble;
    for (const SignatureItem& item : chip.items) key += "|" + item.key;
    key += "\n";
  }
  if (record.verdict.known && !record.verdict.pass) key += "verdict:" + std::to_string(record.verdict.status);
  return key;
}

std::string GroupDescription(const BoardRecord& record) {
  const bool alone = record.chips.size() == 1;
  const bool allIdentical = std::all_of(record.chips.begin(), record.chips.end(),
                                        [](const ChipRecord& chip) { return chip.state == ChipState::Identical; });
  std::string text;
  if (allIdentical) {
    text = alone ? "the dump identical to golden" : "both chips identical to golden";
  } else {
    for (const ChipRecord& chip : record.chips) {
      if (chip.state == ChipState::Identical && !alone) continue;
      text += (text.empty() ? "" : "; ") + ChipPart(chip, alone);
    }
  }
  if (record.verdict.known && !record.verdict.pass)
    text += "; the board's own test fails (Main against Backup, status " + pdiff::Hex(record.verdict.status) + ")";
  return text;
}

std::string DisplayName(const BoardRecord& record) {
  if (!record.result) return record.name;
  std::string identity;
  for (const char* key : {"model", "version", "board", "serial", "id", "date", "time"}) {
    const std::string value = record.result->Value(key);
    if (!value.empty()) identity += (identity.empty() ? "" : ", ") + std::string(key) + " " + value;
  }
  return identity.empty() ? record.name : record.name + " (" + identity + ")";
}

std::string RunDay(const BoardRecord& record) {
  if (!record.result) return "";
  const std::string date = record.result->Value("date");
  const auto digits = [&](size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
      if (date[i] < '0' || date[i] > '9') return false;
    return true;
  };
  if (date.size() < 10 || !digits(0, 4) || date[4] != '-' || !digits(5, 2) || date[7] != '-' || !digits(8, 2))
    return "";
  return date.substr(0, 10);
}

void Grouper::Add(const BoardRecord& record) {
  if (!record.key.empty() && !keys_.insert(record.key).second) {
    countedOnce_.push_back(DisplayName(record));
    return;
  }
  if (const std::string day = RunDay(record); !day.empty() && record.kind != RecordKind::Trouble) {
    DayCount& count = days_[day];
    ++count.runs;
    if (record.result->verdict != "PASS") ++count.failed;
    if (record.kind == RecordKind::Board && !MatchesGolden(record)) ++count.differing;
  }
  if (!record.golden.empty()) goldens_.insert(record.golden);
  if (!record.resultTrouble.empty()) notRead_.push_back({record.name + "/RESULT.TXT", record.resultTrouble});
  if (record.kind == RecordKind::Trouble) {
    notRead_.push_back({record.name, record.trouble});
    return;
  }
  if (record.kind == RecordKind::RunWithoutDumps) {
    static const RunResult kNone;
    const RunResult& result = record.result ? *record.result : kNone;
    const std::string key = result.verdict + "\n" + result.Value("comparison") + "\n" + result.Value("model") + "\n" +
                            result.Value("version");
    RunGroup& group = runs_[key];
    if (group.count++ == 0)
      group = {1, result.verdict, result.Value("comparison"), result.Value("model"), result.Value("version"), {}};
    if (result.verdict != "PASS") ++failingRuns_;
    KeepName(&group.names, DisplayName(record));
    return;
  }
  ++boards_;
  if (MatchesGolden(record)) ++matching_;
  for (const ChipRecord& chip : record.chips)
    if (chip.state == ChipState::Trouble) notRead_.push_back({chip.path, chip.trouble});
  BoardGroup& group = groups_[GroupKey(record)];
  const std::string name = DisplayName(record);
  if (group.count++ == 0 || name < *group.names.begin()) {
    group.first = record;
    group.description = GroupDescription(record);
  }
  KeepName(&group.names, name);
}

int Grouper::ExitStatus() const {
  if (!notRead_.empty() || goldens_.size() > 1) return 2;
  return matching_ == boards_ && failingRuns_ == 0 ? 0 : 1;
}

std::vector<const BoardGroup*> Grouper::SortedGroups() const {
  std::vector<const BoardGroup*> sorted;
  for (const auto& [key, group] : groups_) sorted.push_back(&group);
  std::stable_sort(sorted.begin(), sorted.end(), [](const BoardGroup* a, const BoardGroup* b) {
    return a->count != b->count ? a->count > b->count : a->description < b->description;
  });
  return sorted;
}

std::vector<const RunGroup*> Grouper::SortedRuns() const {
  std::vector<const RunGroup*> sorted;
  for (const auto& [key, group] : runs_) sorted.push_back(&group);
  // Failing runs first, then the largest.
  std::stable_sort(sorted.begin(), sorted.end(), [](const RunGroup* a, const RunGroup* b) {
    const bool aFails = a->verdict != "PASS";
    const bool bFails = b->verdict != "PASS";
    if (aFails != bFails) return aFails;
    return a->count > b->count;
  });
  return sorted;
}

// The same entry twice (a map task's lines given again) is listed once.
std::vector<NotRead> Grouper::SortedNotRead() const {
  std::vector<NotRead> sorted = notRead_;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end(),
                           [](const NotRead& a, const NotRead& b) { return a.path == b.path && a.reason == b.reason; }),
               sorted.end());
  return sorted;
}

std::vector<std::string> Grouper::SortedCountedOnce() const {
  std::vector<std::string> sorted = countedOnce_;
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

namespace {

std::string Examples(const std::set<std::string>& names, uint64_t count) {
  std::string text;
  size_t shown = 0;
  for (const std::string& name : names) {
    if (shown == kNamesInText) break;
    text += (shown++ ? ", " : "") + pdiff::EscapedText(name);
  }
  if (count > shown) text += ", ...";
  return text;
}

std::string Plural(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void Grouper::WriteText(std::ostream& out) const {
  out << Plural(boards_, "board", "boards") << ", " << matching_ << " matching golden";
  if (goldens_.size() == 1) out << " (golden sha256 " << pdiff::EscapedText(goldens_.begin()->substr(0, 16)) << ")";
  if (goldens_.size() > 1) out << " (records of " << goldens_.size() << " different golden images!)";
  out << "\n";
  for (const BoardGroup* group : SortedGroups())
    out << Plural(group->count, "board", "boards") << ": " << pdiff::EscapedText(group->description) << "\n    "
        << Examples(group->names, group->count) << "\n";
  const std::vector<const RunGroup*> runs = SortedRuns();
  if (!runs.empty()) out << "Runs without dumps (RESULT.TXT only):\n";
  for (const RunGroup* run : runs) {
    out << Plural(run->count, "run", "runs") << ": " << pdiff::EscapedText(run->verdict);
    if (!run->comparison.empty()) out << " comparison=" << pdiff::EscapedText(run->comparison);
    if (!run->model.empty()) out << ", model " << pdiff::EscapedText(run->model);
    if (!run->version.empty()) out << ", version " << pdiff::EscapedText(run->version);
    out << "\n    " << Examples(run->names, run->count) << "\n";
  }
  const std::vector<NotRead> notRead = SortedNotRead();
  if (!notRead.empty()) out << "Not read (" << notRead.size() << "):\n";
  for (const NotRead& entry : notRead)
    out << "  " << pdiff::EscapedText(entry.path) << ": " << pdiff::EscapedText(entry.reason) << "\n";
  const std::vector<std::string> again = SortedCountedOnce();
  if (!again.empty()) out << "Counted once, reached again (" << again.size() << "):\n";
  for (const std::string& name : again) out << "  " << pdiff::EscapedText(name) << "\n";
}

void Grouper::WriteJson(std::ostream& out) const {
  nlohmann::json document = {{"boards", boards_}, {"matching_golden", matching_}, {"exit_status", ExitStatus()}};
  document["golden"] = goldens_.size() == 1 ? nlohmann::json(*goldens_.begin()) : nlohmann::json(goldens_);
  nlohmann::json groups = nlohmann::json::array();
  for (const BoardGroup* group : SortedGroups()) {
    const nlohmann::json first = RecordJson(group->first);
    nlohmann::json signature = nlohmann::json::array();
    for (const nlohmann::json& chip : first["chips"]) {
      nlohmann::json differences = chip["differences"];
      // What each item is about, so that a reader lines up the same file
      // across groups.
      for (nlohmann::json& item : differences) {
        const ItemParts parts = SplitItem({item["key"].get<std::string>(), item["text"].get<std::string>()});
        item["subject"] = parts.subject;
        item["label"] = parts.label;
        item["change"] = parts.change;
      }
      nlohmann::json entry = {{"role", chip["role"]}, {"state", chip["state"]}, {"differences", differences}};
      if (chip.contains("trouble")) entry["trouble"] = chip["trouble"];
      signature.push_back(entry);
    }
    groups.push_back({{"count", group->count},
                      {"description", group->description},
                      {"signature", signature},
                      {"main_vs_backup", first["main_vs_backup"]},
                      {"boards", group->names},
                      {"boards_listed", group->names.size()}});
  }
  document["groups"] = groups;
  nlohmann::json runs = nlohmann::json::array();
  for (const RunGroup* run : SortedRuns())
    runs.push_back({{"count", run->count},
                    {"verdict", run->verdict},
                    {"comparison", run->comparison},
                    {"model", run->model},
                    {"version", run->version},
                    {"runs", run->names}});
  document["runs_without_dumps"] = runs;
  nlohmann::json notRead = nlohmann::json::array();
  for (const NotRead& entry : SortedNotRead()) notRead.push_back({{"path", entry.path}, {"reason", entry.reason}});
  document["not_read"] = notRead;
  document["counted_once"] = SortedCountedOnce();
  nlohmann::json days = nlohmann::json::array();
  for (const auto& [day, count] : days_)
    days.push_back({{"date", day}, {"runs", count.runs}, {"failed", count.failed}, {"differing", count.differing}});
  document["days"] = days;
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace fleet
