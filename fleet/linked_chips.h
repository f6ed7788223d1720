// SPDX-License-Identifier: BSD-2-Clause-Patent
// Chips with more than one name, measured once a run: a file reached again
// under another board (an archive deduplicated with hard links, a board
// whose Main and Backup are one file) is the same bytes, so its hash,
// signature and the board's own verdict on it are taken again, not read
// again. Only files with several names are kept: memory grows with those.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "fleet/board_record.h"
#include "fleet/chip_hash.h"

namespace fleet {

class LinkedChips {
 public:
  bool Find(const FileStamp& stamp, ChipRecord* chip);
  void Store(const FileStamp& stamp, const ChipRecord& chip);
  bool FindVerdict(const FileStamp& main, const FileStamp& backup, BoardVerdict* verdict);
  void StoreVerdict(const FileStamp& main, const FileStamp& backup, const BoardVerdict& verdict);

 private:
  std::mutex lock_;
  std::map<std::string, ChipRecord> chips_;
  std::map<std::string, BoardVerdict> verdicts_;
};

}  // namespace fleet
