// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/chip_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "diff/compare/escaped_text.h"
#include "diff/compare/replaced_file.h"
#include "fleet/record_reader.h"

namespace fleet {
namespace {

// A cache line longer than this was not written by the fleet.
constexpr size_t kLongestLine = 1 << 20;

nlohmann::json ChipJson(const ChipRecord& chip) {
  BoardRecord record;
  record.chips.push_back(chip);
  return RecordJson(record)["chips"][0];
}

constexpr const char* kHeaderKey = "pellrix_fleet_cache";
constexpr size_t kStampFields = 5;

nlohmann::json StampJson(const FileStamp& stamp) {
  return {stamp.device, stamp.inode, stamp.size, stamp.modifiedNanoseconds, stamp.changedNanoseconds};
}

// An entry of another form (an earlier cache without change times) is no
// entry: its chip is measured again.
std::optional<FileStamp> StampFromJson(const nlohmann::json& stamp) {
  if (!stamp.is_array() || stamp.size() != kStampFields) return std::nullopt;
  for (const nlohmann::json& value : stamp)
    if (!value.is_number_integer()) return std::nullopt;
  FileStamp kept;
  kept.device = stamp[0].get<uint64_t>();
  kept.inode = stamp[1].get<uint64_t>();
  kept.size = stamp[2].get<uint64_t>();
  kept.modifiedNanoseconds = stamp[3].get<int64_t>();
  kept.changedNanoseconds = stamp[4].get<int64_t>();
  return kept;
}

pdiff::ReplacedFile CacheFile(const std::vector<std::string>& inputs) {
  return {"--cache", inputs,
          [](std::string_view head) { return head.rfind(std::string("{\"") + kHeaderKey + "\"", 0) == 0; }};
}

// A path holds no NUL: the pair's key cannot be a chip's path.
std::string VerdictKey(const std::string& main, const std::string& backup) {
  return std::string("verdict") + '\0' + RecordName(main) + '\0' + RecordName(backup);
}

}  // namespace

bool ChipCache::Open(const std::string& path, const std::string& identity, const std::vector<std::string>& inputs,
                     std::string* problem, std::string* notice) {
  path_ = path;
  identity_ = identity;
  inputs_ = inputs;
  std::string destination;
  mode_t mode = 0;
  *problem = pdiff::ReplaceTarget(CacheFile(inputs), path, &destination, &mode);
  if (!problem->empty()) return false;
  // Never waits: the name was a regular file a moment ago, and may not be.
  const int fd = open(destination.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return true;  // a first run
    *problem = "--cache " + pdiff::EscapedText(path) + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  FILE* in = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(fd, "rb") : nullptr;
  if (!in) {
    close(fd);
    *problem = "--cache " + pdiff::EscapedText(path) + " is not a regular file";
    return false;
  }
  bool first = true;
  bool foreign = false;
  std::string readProblem;
  ReadLinesFrom(
      in,
      [&](const std::string& line, uint64_t) {
        const bool fits = line.size() <= kLongestLine && JsonDepthWithin(line, kDeepestRecord);
        const nlohmann::json entry = fits ? nlohmann::json::parse(line, nullptr, false) : nlohmann::json();
        if (first) {
          first = false;
          foreign = !entry.is_object() || !entry.contains(kHeaderKey) || entry[kHeaderKey] != identity;
          return;
        }
        if (foreign || !fits) return;
        if (entry.is_discarded() || !entry.is_object() || !entry.contains("file") || !entry["file"].is_string() ||
            !entry.contains("stamp") || !entry.contains("chip"))
          return;
        const std::optional<FileStamp> stamp = StampFromJson(entry["stamp"]);
        if (!stamp) return;
        entries_[entry["file"].get<std::string>()] = Entry{*stamp, entry["chip"].dump()};
      },
      [](uint64_t, const std::string&) {}, &readProblem);
  std::fclose(in);
  if (foreign) {
    *notice = "cache written for another golden image or other options: started again";
    entries_.clear();
    changed_ = true;
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
  const std::optional<std::string> line = FindLine(RecordName(path), stamp);
  if (!line) return false;
  std::string problem;
  const std::optional<BoardRecord> record = ParseRecordLine(R"({"kind":"board","chips":[)" + *line + "]}", &problem);
  if (!record || record->chips.size() != 1) return false;
  *chip = record->chips[0];
  return true;
}

void ChipCache::Store(const std::string& path, const FileStamp& stamp, const ChipRecord& chip) {
  StoreLine(RecordName(path), stamp, ChipJson(chip).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
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
  *verdict = VerdictFromJson(entry["verdict"]);
  return verdict->known;
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
  return pdiff::ReplaceFile(
      CacheFile(inputs_), path_,
      [&](std::ostream& out) {
        out << nlohmann::json({{kHeaderKey, identity_}}).dump() << "\n";
        for (const auto& [file, entry] : entries_)
          out << R"({"file":)" << nlohmann::json(file).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
              << R"(,"stamp":)" << StampJson(entry.stamp).dump() << R"(,"chip":)" << entry.line << "}\n";
      },
      problem);
}

}  // namespace fleet
