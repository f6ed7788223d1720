// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/linked_chips.h"

namespace fleet {
namespace {

std::string StampKey(const FileStamp& stamp) {
  return std::to_string(stamp.device) + ":" + std::to_string(stamp.inode) + ":" + std::to_string(stamp.size) + ":" +
         std::to_string(stamp.modifiedNanoseconds) + ":" + std::to_string(stamp.changedNanoseconds);
}

}  // namespace

bool LinkedChips::Find(const FileStamp& stamp, ChipRecord* chip) {
  if (stamp.links < 2) return false;
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = chips_.find(StampKey(stamp));
  if (found == chips_.end()) return false;
  *chip = found->second;
  return true;
}

void LinkedChips::Store(const FileStamp& stamp, const ChipRecord& chip) {
  if (stamp.links < 2 || chip.state == ChipState::Trouble) return;
  std::lock_guard<std::mutex> hold(lock_);
  chips_[StampKey(stamp)] = chip;
}

bool LinkedChips::FindVerdict(const FileStamp& main, const FileStamp& backup, BoardVerdict* verdict) {
  if (main.links < 2 || backup.links < 2) return false;
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = verdicts_.find(StampKey(main) + "|" + StampKey(backup));
  if (found == verdicts_.end()) return false;
  *verdict = found->second;
  return true;
}

void LinkedChips::StoreVerdict(const FileStamp& main, const FileStamp& backup, const BoardVerdict& verdict) {
  if (main.links < 2 || backup.links < 2 || !verdict.known) return;
  std::lock_guard<std::mutex> hold(lock_);
  verdicts_[StampKey(main) + "|" + StampKey(backup)] = verdict;
}

}  // namespace fleet
