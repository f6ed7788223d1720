// SPDX-License-Identifier: BSD-2-Clause-Patent
// The reduce: board records grouped by their signature against golden,
// with a count and the first few board names per group (the smallest names,
// so that the result does not depend on the order records arrive in).
// A board is counted once however often its line arrives (a map task run
// again, an archive reached twice through a link): its key is kept, 32
// bytes a board; the rest grows with the number of groups. Inputs not read
// are all kept, to be listed.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fleet/board_record.h"

namespace fleet {

// Board names kept per group: three in the text, more in the JSON.
constexpr size_t kNamesKept = 100;
constexpr size_t kNamesInText = 3;

struct BoardGroup {
  uint64_t count = 0;
  std::string description;
  BoardRecord first;            // its smallest-named board, for its signature
  std::set<std::string> names;  // the smallest kNamesKept
};

struct RunGroup {
  uint64_t count = 0;
  std::string verdict, comparison, model, version;
  std::set<std::string> names;
};

struct NotRead {
  std::string path;
  std::string reason;
  friend bool operator<(const NotRead& a, const NotRead& b) {
    return std::tie(a.path, a.reason) < std::tie(b.path, b.reason);
  }
};

// The runs RESULT.TXT dates on one day: how many, how many the kit failed
// (a verdict other than PASS), how many boards differ from golden.
struct DayCount {
  uint64_t runs = 0;
  uint64_t failed = 0;
  uint64_t differing = 0;
};

// The day of RESULT.TXT's date ("2026-03-14 09:30:00" gives "2026-03-14"),
// empty when it gives none.
std::string RunDay(const BoardRecord& record);

class Grouper {
 public:
  void Add(const BoardRecord& record);
  // A line of input the group step could not take.
  void AddNotRead(const std::string& path, const std::string& reason) { notRead_.push_back({path, reason}); }
  // Text and JSON names are as the records hold them; the text escapes
  // every name and reason for the terminal.

  void WriteText(std::ostream& out) const;
  void WriteJson(std::ostream& out) const;
  // 0 every board matches golden, 1 some differ (or a run without dumps
  // failed), 2 an input was not read.
  int ExitStatus() const;

  // Largest first, then by description.
  std::vector<const BoardGroup*> SortedGroups() const;
  std::vector<const RunGroup*> SortedRuns() const;
  std::vector<NotRead> SortedNotRead() const;
  std::vector<std::string> SortedCountedOnce() const;
  uint64_t boards() const { return boards_; }

 private:
  std::map<std::string, BoardGroup> groups_;
  std::map<std::string, RunGroup> runs_;
  std::vector<NotRead> notRead_;
  std::map<std::string, DayCount> days_;
  std::unordered_set<std::string> keys_;
  std::vector<std::string> countedOnce_;  // boards whose line came again
  std::set<std::string> goldens_;
  uint64_t boards_ = 0;
  uint64_t matching_ = 0;
  uint64_t failingRuns_ = 0;
};

// What groups a board: each chip's role, state and signature, and the
// board's own verdict.
std::string GroupKey(const BoardRecord& record);
std::string GroupDescription(const BoardRecord& record);
// The board's name with the identity and date RESULT.TXT gives, if any.
std::string DisplayName(const BoardRecord& record);

}  // namespace fleet
