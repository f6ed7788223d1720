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
    const nlohmann::json& stamp = entry["stamp"];
    bool numbers = true;
    for (const nlohmann::json& value : stamp) numbers = numbers && value.is_number_integer();
    if (!numbers) continue;
    Entry kept{{stamp[0].get<uint64_t>(), stamp[1].get<uint64_t>(), stamp[2].get<uint64_t>(), stamp[3].get<int64_t>()},
               entry["chip"].dump()};
    entries_[entry["file"].get<std::string>()] = std::move(kept);
  }
  return true;
}

bool ChipCache::Find(const std::string& path, const FileStamp& stamp, ChipRecord* chip) {
  std::string line;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = entries_.find(path);
    if (found == entries_.end()) return false;
    const FileStamp& kept = found->second.stamp;
    if (kept.device != stamp.device || kept.inode != stamp.inode || kept.size != stamp.size ||
        kept.modifiedNanoseconds != stamp.modifiedNanoseconds)
      return false;
    line = found->second.line;
    ++hits_;
  }
  std::string problem;
  const std::optional<BoardRecord> record = ParseRecordLine(R"({"kind":"board","chips":[)" + line + "]}", &problem);
  if (!record || record->chips.size() != 1) return false;
  *chip = record->chips[0];
  return true;
}

void ChipCache::Store(const std::string& path, const FileStamp& stamp, const ChipRecord& chip) {
  const std::string line = ChipJson(chip).dump();
  std::lock_guard<std::mutex> hold(lock_);
  entries_[path] = Entry{stamp, line};
  changed_ = true;
}

bool ChipCache::Save(std::string* problem) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!changed_) return true;
  const std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << nlohmann::json({{"pellrix_fleet_cache", identity_}}).dump() << "\n";
    for (const auto& [file, entry] : entries_) {
      const nlohmann::json stamp = {entry.stamp.device, entry.stamp.inode, entry.stamp.size,
                                    entry.stamp.modifiedNanoseconds};
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
