// SPDX-License-Identifier: BSD-2-Clause-Patent
// Chips measured before, kept in a file: each chip's hash and signature
// under its path, size, modification time and inode, so that a second run
// over a grown archive reads only what is new or changed. The file is good
// for one golden image and one set of geometry options; for any other it
// is started again.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fleet/board_record.h"
#include "fleet/chip_hash.h"

namespace fleet {

class ChipCache {
 public:
  // `identity` names the golden image and the options; a file written for
  // another is not used (`notice` says so). A missing file is an empty
  // cache. False with `problem` when `path` cannot be the cache at all:
  // anything but a regular file the fleet wrote (or a new name), or one of
  // the `inputs`; nothing may be run then.
  bool Open(const std::string& path, const std::string& identity, const std::vector<std::string>& inputs,
            std::string* problem, std::string* notice);
  bool Find(const std::string& path, const FileStamp& stamp, ChipRecord* chip);
  void Store(const std::string& path, const FileStamp& stamp, const ChipRecord& chip);
  // The board's own verdict on two chips, kept under both chips' stamps.
  bool FindVerdict(const std::string& main, const FileStamp& mainStamp, const std::string& backup,
                   const FileStamp& backupStamp, BoardVerdict* verdict);
  void StoreVerdict(const std::string& main, const FileStamp& mainStamp, const std::string& backup,
                    const FileStamp& backupStamp, const BoardVerdict& verdict);
  // Writes every entry, old and new, beside the file and renames it over
  // (an earlier cache keeps its mode).
  bool Save(std::string* problem);

  uint64_t hits() const { return hits_; }

 private:
  struct Entry {
    FileStamp stamp;
    std::string line;  // the chip record's JSON; for a verdict, the verdict and Backup's stamp
  };
  std::optional<std::string> FindLine(const std::string& key, const FileStamp& stamp);
  void StoreLine(const std::string& key, const FileStamp& stamp, std::string line);
  std::mutex lock_;
  std::string path_;
  std::string identity_;
  std::vector<std::string> inputs_;
  std::unordered_map<std::string, Entry> entries_;
  uint64_t hits_ = 0;
  bool changed_ = false;
};

}  // namespace fleet
