// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the fleet learns about one input: a board's chips measured against
// golden and its own verdict, a kit run that kept no dumps, or an input that
// could not be read. One JSON line each: the map step writes them, the group
// step reads them back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace fleet {

// One difference against golden: `key` says what it is, to group by;
// `text` says it to a person.
struct SignatureItem {
  std::string key;
  std::string text;
  friend bool operator<(const SignatureItem& a, const SignatureItem& b) { return a.key < b.key; }
  friend bool operator==(const SignatureItem& a, const SignatureItem& b) { return a.key == b.key; }
};

enum class ChipState { Identical, MaskedOnly, Differs, Trouble };
const char* ChipStateName(ChipState state);

struct ChipRecord {
  std::string role;  // "Main", "Backup", or "Dump" for a dump given alone
  std::string path;  // as RecordName gives it
  uint64_t size = 0;
  std::string sha256;  // empty when it could not be read
  ChipState state = ChipState::Trouble;
  std::vector<SignatureItem> items;  // sorted by key; for Differs
  std::string trouble;               // for Trouble
};

// The board's own comparison test, Main against Backup.
struct BoardVerdict {
  bool known = false;  // both chips were read and could be placed
  bool pass = false;
  uint32_t status = 0;  // the exit status the board would store
  std::optional<uint32_t> address;
};

// What RESULT.TXT says: its first word and its key=value pairs.
struct RunResult {
  std::string verdict;                                      // "PASS", "FAIL", "UNSUPPORTED", ...; escaped
  std::vector<std::pair<std::string, std::string>> values;  // escaped, in the file's order
  std::string Value(const std::string& key) const;
  std::string Line() const;  // as one line again
};

enum class RecordKind { Board, RunWithoutDumps, Trouble };

struct BoardRecord {
  RecordKind kind = RecordKind::Board;
  std::string name;  // the folder's or dump's path, as RecordName gives it
  // Names the board whichever path reached it (its folder, not the links
  // on the way), so that a board reached twice is counted once; empty for
  // an input not read.
  std::string key;
  std::string golden;               // golden's SHA-256
  std::optional<RunResult> result;  // RESULT.TXT, when read
  std::string resultTrouble;        // why RESULT.TXT was not read, when it was there
  std::vector<ChipRecord> chips;
  BoardVerdict verdict;
  std::string trouble;  // for Trouble: why the input was not read
};

// A board matches golden when every chip is identical or differs only in
// the areas the board masks.
bool MatchesGolden(const BoardRecord& record);

// A path as the records hold it: itself when it is UTF-8 (JSON escapes it,
// the text escapes it for the terminal), else escaped as the text is.
std::string RecordName(const std::string& path);

// Whether `text` nests no more than `deepest` arrays and objects: deeper
// JSON is refused before it is parsed, so that no reader or writer recurses
// without bound.
constexpr int kDeepestRecord = 16;
bool JsonDepthWithin(std::string_view text, int deepest);

// The board's own verdict as RecordJson writes it ("main_vs_backup").
BoardVerdict VerdictFromJson(const nlohmann::json& verdict);

nlohmann::json RecordJson(const BoardRecord& record);
// One line, no newline at its end.
std::string RecordLine(const BoardRecord& record);
// Null with `problem` set when the line is not such a record.
std::optional<BoardRecord> ParseRecordLine(const std::string& line, std::string* problem);

}  // namespace fleet
