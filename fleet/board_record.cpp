// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/board_record.h"

#include <algorithm>

#include "diff/compare/escaped_text.h"

namespace fleet {

std::string RecordName(const std::string& path) { return pdiff::IsUtf8(path) ? path : pdiff::EscapedText(path); }

bool JsonDepthWithin(std::string_view text, int deepest) {
  int depth = 0;
  bool inString = false;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\')
        ++at;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

BoardVerdict VerdictFromJson(const nlohmann::json& in) {
  BoardVerdict verdict;
  if (!in.is_object()) return verdict;
  const auto flag = [&](const char* key) {
    const auto found = in.find(key);
    return found != in.end() && found->is_boolean() && found->get<bool>();
  };
  verdict.known = flag("known");
  verdict.pass = flag("pass");
  if (const auto status = in.find("status"); status != in.end() && status->is_number_unsigned())
    verdict.status = uint32_t(status->get<uint64_t>());
  if (const auto address = in.find("address"); address != in.end() && address->is_number_unsigned())
    verdict.address = uint32_t(address->get<uint64_t>());
  return verdict;
}

const char* ChipStateName(ChipState state) {
  switch (state) {
    case ChipState::Identical: return "identical";
    case ChipState::MaskedOnly: return "masked-only";
    case ChipState::Differs: return "differs";
    case ChipState::Trouble: return "trouble";
  }
  return "trouble";
}

std::string RunResult::Value(const std::string& key) const {
  for (const auto& [name, value] : values)
    if (name == key) return value;
  return "";
}

std::string RunResult::Line() const {
  std::string line = verdict;
  for (const auto& [name, value] : values) line += (line.empty() ? "" : " ") + name + "=" + value;
  return line;
}

bool MatchesGolden(const BoardRecord& record) {
  if (record.kind != RecordKind::Board) return record.kind == RecordKind::RunWithoutDumps;
  return std::all_of(record.chips.begin(), record.chips.end(), [](const ChipRecord& chip) {
    return chip.state == ChipState::Identical || chip.state == ChipState::MaskedOnly;
  });
}

namespace {

const char* KindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::Board: return "board";
    case RecordKind::RunWithoutDumps: return "run";
    case RecordKind::Trouble: return "trouble";
  }
  return "trouble";
}

std::string Text(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

uint64_t Number(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_number_unsigned() ? found->get<uint64_t>() : 0;
}

}  // namespace

nlohmann::json RecordJson(const BoardRecord& record) {
  nlohmann::json out = {{"kind", KindName(record.kind)}, {"board", record.name}, {"golden", record.golden}};
  if (!record.key.empty()) out["key"] = record.key;
  if (record.result) {
    nlohmann::json values = nlohmann::json::object();
    for (const auto& [name, value] : record.result->values) values[name] = value;
    out["result"] = {{"verdict", record.result->verdict}, {"values", values}};
  }
  if (!record.resultTrouble.empty()) out["result_trouble"] = record.resultTrouble;
  if (record.kind == RecordKind::Trouble) out["trouble"] = record.trouble;
  if (record.kind != RecordKind::Board) return out;
  out["matches_golden"] = MatchesGolden(record);
  nlohmann::json chips = nlohmann::json::array();
  for (const ChipRecord& chip : record.chips) {
    nlohmann::json items = nlohmann::json::array();
    for (const SignatureItem& item : chip.items) items.push_back({{"key", item.key}, {"text", item.text}});
    nlohmann::json entry = {{"role", chip.role},
                            {"path", chip.path},
                            {"size", chip.size},
                            {"sha256", chip.sha256},
                            {"state", ChipStateName(chip.state)},
                            {"differences", items}};
    if (chip.state == ChipState::Trouble) entry["trouble"] = chip.trouble;
    chips.push_back(entry);
  }
  out["chips"] = chips;
  nlohmann::json verdict = {{"known", record.verdict.known}};
  if (record.verdict.known) {
    verdict["pass"] = record.verdict.pass;
    verdict["status"] = record.verdict.status;
    if (record.verdict.address) verdict["address"] = *record.verdict.address;
  }
  out["main_vs_backup"] = verdict;
  return out;
}

std::string RecordLine(const BoardRecord& record) {
  return RecordJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<BoardRecord> ParseRecordLine(const std::string& line, std::string* problem) {
  if (!JsonDepthWithin(line, kDeepestRecord)) {
    *problem = "nested deeper than any board line";
    return std::nullopt;
  }
  const nlohmann::json in = nlohmann::json::parse(line, nullptr, false);
  if (in.is_discarded() || !in.is_object()) {
    *problem = "not a JSON object";
    return std::nullopt;
  }
  BoardRecord record;
  const std::string kind = Text(in, "kind");
  if (kind == "board") {
    record.kind = RecordKind::Board;
  } else if (kind == "run") {
    record.kind = RecordKind::RunWithoutDumps;
  } else if (kind == "trouble") {
    record.kind = RecordKind::Trouble;
  } else {
    *problem = "not a board line of pellrix-fleet (no \"kind\")";
    return std::nullopt;
  }
  record.name = Text(in, "board");
  record.key = Text(in, "key");
  record.golden = Text(in, "golden");
  record.trouble = Text(in, "trouble");
  record.resultTrouble = Text(in, "result_trouble");
  if (const auto result = in.find("result"); result != in.end() && result->is_object()) {
    RunResult run;
    run.verdict = Text(*result, "verdict");
    if (const auto values = result->find("values"); values != result->end() && values->is_object())
      for (const auto& [name, value] : values->items())
        if (value.is_string()) run.values.emplace_back(name, value.get<std::string>());
    record.result = run;
  }
  if (record.kind == RecordKind::RunWithoutDumps && (!record.result || record.result->verdict.empty())) {
    *problem = "a run line without its RESULT.TXT verdict";
    return std::nullopt;
  }
  if (const auto chips = in.find("chips"); chips != in.end() && chips->is_array()) {
    for (const nlohmann::json& entry : *chips) {
      if (!entry.is_object()) continue;
      ChipRecord chip;
      chip.role = Text(entry, "role");
      chip.path = Text(entry, "path");
      chip.size = Number(entry, "size");
      chip.sha256 = Text(entry, "sha256");
      const std::string state = Text(entry, "state");
      chip.state = state == "identical"     ? ChipState::Identical
                   : state == "masked-only" ? ChipState::MaskedOnly
                   : state == "differs"     ? ChipState::Differs
                                            : ChipState::Trouble;
      chip.trouble = Text(entry, "trouble");
      if (const auto items = entry.find("differences"); items != entry.end() && items->is_array())
        for (const nlohmann::json& item : *items)
          if (item.is_object()) chip.items.push_back({Text(item, "key"), Text(item, "text")});
      std::sort(chip.items.begin(), chip.items.end());
      record.chips.push_back(chip);
    }
  }
  if (record.kind == RecordKind::Board && (record.chips.empty() || record.chips.size() > 2)) {
    *problem = "a board line with " + std::to_string(record.chips.size()) + " chips";
    return std::nullopt;
  }
  if (const auto verdict = in.find("main_vs_backup"); verdict != in.end()) record.verdict = VerdictFromJson(*verdict);
  // Only a board has chips and a verdict of its own: a run or trouble line
  // groups alike whatever else it holds.
  if (record.kind != RecordKind::Board) {
    record.chips.clear();
    record.verdict = BoardVerdict();
  }
  return record;
}

}  // namespace fleet
