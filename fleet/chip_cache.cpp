// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/chip_cache.h"

#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

namespace fleet {
namespace {

// A cache line longer than this was not written by the fleet.
constexpr size_t kLongestLine = 1 << 20;

nlohmann::json ChipJson(const ChipRecord& chip) {
  BoardRecord record;
  record.chips.push_back(chip);
  return RecordJson(record)["chips"][0];
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modifiedNanoseconds == b.modifiedNanoseconds;
}

nlohmann::json StampJson(const FileStamp& stamp) {
  return {stamp.device, stamp.inode, stamp.size, stamp.modifiedNanoseconds};
}

std::optional<FileStamp> StampFromJson(const nlohmann::json& stamp) {
  if (!stamp.is_array() || stamp.size() != 4) return std::nullopt;
  for (const nlohmann::json& value : stamp)
    if (!value.is_number_integer()) return std::nullopt;
  return FileStamp{stamp[0].get<uint64_t>(), stamp[1].get<uint64_t>(), stamp[2].get<uint64_t>(),
                   stamp[3].get<int64_t>()};
}

// A path holds no NUL: the pair's key cannot be a chip's path.
std::string VerdictKey(const std::string& main, const std::string& backup) {
  return std::string("verdict") + '\0' + main + '\0' + backup;
}

}  // namespace

bool ChipCache::Open(const std::string& path, const std::string& identity, std::string* problem) {
  path_ = path;
  identity_ = identity;
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;  // a first run
  std::string line;
  if (!std::getline(in, line)) return true;
  const nlohmann::json header = nlohmann::json::parse(line, nullptr, false);
  if (header.is_discarded() || !header.is_object() || !header.contains("pellrix_fleet_cache") ||
      header["pellrix_fleet_cache"] != identity) {
    *problem = "cache written for another golden image or other options: started again";
    changed_ = true;
    return false;
  }
  while (std::getline(in, line)) {
    if (line.size() > kLongestLine) continue;
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (entry.is_discarded() || !entry.is_object() || !entry.contains("file") || !entry["file"].is_string() ||
        !entry.contains("stamp") || !entry["stamp"].is_array() || entry["stamp"].size() != 4 || !entry.contains("chip"))
      continue;
    const std::optional<FileStamp> stamp = StampFromJson(entry["stamp"]);
    if (!stamp) continue;
    Entry kept{*stamp, entry["chip"].dump()};
    entries_[entry["file"].get<std::string>()] = std::move(kept);
  }
  return true;
}

std::optional<std::string> ChipCache::FindLine(const std::string& key, const FileStamp& stamp) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = entries_.find(key);
  if (found == entries_.end()) return std::nullopt;
  const FileStamp& kept = found->second.stamp;
  if (!SameStamp(kept, stamp)) return std::nullopt;
  ++hits_;
  return found->second.line;
}

void ChipCache::StoreLine(const std::string& key, const FileStamp& stamp, std::string line) {
  std::lock_guard<std::mutex> hold(lock_);
  entries_[key] = Entry{stamp, std::move(line)};
  changed_ = true;
}

bool ChipCache::Find(const std::string& path, const FileStamp& stamp, ChipRecord* chip) {
  const std::optional<std::string> line = FindLine(path, stamp);
  if (!line) return false;
  std::string problem;
  const std::optional<BoardRecord> record = ParseRecordLine(R"({"kind":"board","chips":[)" + *line + "]}", &problem);
  if (!record || record->chips.size() != 1) return false;
  *chip = record->chips[0];
  return true;
}

void ChipCache::Store(const std::string& path, const FileStamp& stamp, const ChipRecord& chip) {
  StoreLine(path, stamp, ChipJson(chip).dump());
}

bool ChipCache::FindVerdict(const std::string& main, const FileStamp& mainStamp, const std::string& backup,
                            const FileStamp& backupStamp, BoardVerdict* verdict) {
  const std::optional<std::string> line = FindLine(VerdictKey(main, backup), mainStamp);
  if (!line) return false;
  const nlohmann::json entry = nlohmann::json::parse(*line, nullptr, false);
  if (entry.is_discarded() || !entry.is_object() || !entry.contains("backup") || !entry.contains("verdict"))
    return false;
  std::optional<FileStamp> kept = StampFromJson(entry["backup"]);
  if (!kept || !SameStamp(*kept, backupStamp)) return false;
  std::string problem;
  const std::optional<BoardRecord> record =
      ParseRecordLine(R"({"kind":"board","main_vs_backup":)" + entry["verdict"].dump() + "}", &problem);
  if (!record) return false;
  *verdict = record->verdict;
  return true;
}

void ChipCache::StoreVerdict(const std::string& main, const FileStamp& mainStamp, const std::string& backup,
                             const FileStamp& backupStamp, const BoardVerdict& verdict) {
  BoardRecord record;
  record.verdict = verdict;
  const nlohmann::json line = {{"backup", StampJson(backupStamp)}, {"verdict", RecordJson(record)["main_vs_backup"]}};
  StoreLine(VerdictKey(main, backup), mainStamp, line.dump());
}

bool ChipCache::Save(std::string* problem) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!changed_) return true;
  const std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << nlohmann::json({{"pellrix_fleet_cache", identity_}}).dump() << "\n";
    for (const auto& [file, entry] : entries_) {
      const nlohmann::json stamp = StampJson(entry.stamp);
      out << R"({"file":)" << nlohmann::json(file).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
          << R"(,"stamp":)" << stamp.dump() << R"(,"chip":)" << entry.line << "}\n";
    }
    out.flush();
    if (!out) {
      *problem = "cache " + temporary + ": write error";
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
    *problem = "cache " + path_ + ": cannot be replaced";
    return false;
  }
  return true;
}

}  // namespace fleet
