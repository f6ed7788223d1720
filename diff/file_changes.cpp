#include "diff/file_changes.h"

#include <cstring>
#include <optional>
#include <unordered_map>

namespace pdiff {

namespace {

// A file's key points into its tree: nothing is copied per file.
struct Key {
  const fwtree::TreeFile* file;
  bool operator==(const Key& other) const {
    return file->guid == other.file->guid && file->index == other.file->index && file->path == other.file->path;
  }
};

struct KeyHash {
  size_t operator()(const Key& key) const {
    uint64_t hash = 1469598103934665603ull ^ key.file->index;
    auto mix = [&](const fwtree::Guid& guid) {
      for (uint8_t byte : guid) hash = (hash ^ byte) * 1099511628211ull;
    };
    mix(key.file->guid);
    for (const fwtree::Guid& guid : key.file->path) mix(guid);
    return size_t(hash);
  }
};

Key KeyOf(const fwtree::TreeFile& file) { return {&file}; }

std::optional<uint64_t> FlashOf(const FlashOffsetOf& flashOffset, int dump, const fwtree::TreeFile& file) {
  if (!file.offset) return std::nullopt;
  return flashOffset(dump, *file.offset);
}

// Every differing byte of two equally long files at one flash offset is masked.
bool OnlyMaskedBytesDiffer(const fwtree::TreeFile& a, const fwtree::TreeFile& b, uint64_t flash,
                           const IsMasked& isMasked) {
  if (a.size != b.size) return false;
  bool any = false;
  for (uint64_t i = 0; i < a.size; ++i) {
    if (a.bytes[i] == b.bytes[i]) continue;
    if (!isMasked(flash + i)) return false;
    any = true;
  }
  return any;
}

}  // namespace

const char* FileChangeName(FileChangeKind kind) {
  switch (kind) {
    case FileChangeKind::Changed: return "changed";
    case FileChangeKind::Moved: return "moved";
    case FileChangeKind::OnlyInMain: return "only in Main";
    case FileChangeKind::OnlyInBackup: return "only in Backup";
  }
  return "?";
}

std::vector<FileChange> CompareFileTrees(const fwtree::FirmwareTree& main, const fwtree::FirmwareTree& backup,
                                         const FlashOffsetOf& flashOffset, const IsMasked& isMasked) {
  std::unordered_map<Key, const fwtree::TreeFile*, KeyHash> backupFiles(backup.files.size());
  for (const fwtree::TreeFile& file : backup.files) backupFiles.emplace(KeyOf(file), &file);
  std::vector<bool> matched(backup.files.size(), false);

  std::vector<FileChange> changes;
  for (const fwtree::TreeFile& file : main.files) {
    auto found = backupFiles.find(KeyOf(file));
    if (found == backupFiles.end()) {
      changes.push_back({FileChangeKind::OnlyInMain, &file, nullptr});
      continue;
    }
    const fwtree::TreeFile& other = *found->second;
    matched[size_t(&other - backup.files.data())] = true;
    const std::optional<uint64_t> mainFlash = FlashOf(flashOffset, 0, file);
    const std::optional<uint64_t> backupFlash = FlashOf(flashOffset, 1, other);
    const bool same = file.size == other.size && std::memcmp(file.bytes, other.bytes, file.size) == 0;
    if (!same) {
      FileChange change{FileChangeKind::Changed, &file, &other};
      change.masked = mainFlash && mainFlash == backupFlash && OnlyMaskedBytesDiffer(file, other, *mainFlash, isMasked);
      changes.push_back(change);
    } else if (mainFlash != backupFlash) {
      changes.push_back({FileChangeKind::Moved, &file, &other});
    }
  }
  for (size_t i = 0; i < backup.files.size(); ++i)
    if (!matched[i]) changes.push_back({FileChangeKind::OnlyInBackup, nullptr, &backup.files[i]});
  return changes;
}

FileChangeCounts CountFileChanges(const std::vector<FileChange>& changes) {
  FileChangeCounts counts;
  for (const FileChange& change : changes) {
    switch (change.kind) {
      case FileChangeKind::Changed: ++counts.changed; break;
      case FileChangeKind::Moved: ++counts.moved; break;
      case FileChangeKind::OnlyInMain: ++counts.onlyInMain; break;
      case FileChangeKind::OnlyInBackup: ++counts.onlyInBackup; break;
    }
    const fwtree::TreeFile* file = change.main != nullptr ? change.main : change.backup;
    if (file->compressed) ++counts.compressed;
  }
  return counts;
}

}  // namespace pdiff
