// SPDX-License-Identifier: BSD-2-Clause-Patent
// The command line's inputs turned into boards: a dump given alone, a board
// folder (MAIN.BIN, BACKUP.BIN, RESULT.TXT, as the kit's RUN folders hold
// them), or a folder searched for both. Every file is reached once, links
// included; what cannot be a board is handed on with its reason, never
// dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace fleet {

struct BoardInput {
  std::string name;                 // the folder's or the dump's path, unescaped
  std::optional<std::string> dump;  // a dump given or found alone
  std::optional<std::string> main;
  std::optional<std::string> backup;
  std::optional<std::string> result;  // RESULT.TXT
};

using BoardSink = std::function<void(BoardInput&&)>;
using TroubleSink = std::function<void(const std::string& path, const std::string& reason)>;

// Folders deeper than this below an input are listed, not searched.
constexpr int kDeepestSearch = 32;

class InputWalk {
 public:
  InputWalk(BoardSink boards, TroubleSink trouble) : boards_(std::move(boards)), trouble_(std::move(trouble)) {}
  void Walk(const std::string& input);

 private:
  void Search(const std::string& folder, int depth);
  void Board(const std::string& folder, const std::string& main, const std::string& backup, const std::string& result);
  void File(const std::string& path, uint64_t size);
  bool FirstVisit(uint64_t device, uint64_t inode) { return seen_.emplace(device, inode).second; }

  BoardSink boards_;
  TroubleSink trouble_;
  std::set<std::pair<uint64_t, uint64_t>> seen_;  // folders searched and inputs given, by device and inode
};

}  // namespace fleet
