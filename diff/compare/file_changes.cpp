// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/file_changes.h"

#include <cstring>
#include <map>
#include <optional>
#include <unordered_map>

namespace pdiff {

namespace {

using fwtree::Guid;
using fwtree::TreeFile;

// A file's key points into its tree: nothing is copied per file.
struct Key {
  const TreeFile* file;
  bool operator==(const Key& other) const {
    return file->guid == other.file->guid && file->index == other.file->index && file->path == other.file->path;
  }
};

struct KeyHash {
  size_t operator()(const Key& key) const {
    uint64_t hash = 1469598103934665603ull ^ key.file->index;
    auto mix = [&](const Guid& guid) {
      for (uint8_t byte : guid) hash = (hash ^ byte) * 1099511628211ull;
    };
    mix(key.file->guid);
    for (const Guid& guid : key.file->path) mix(guid);
    return size_t(hash);
  }
};

std::optional<uint64_t> FlashOf(const FlashOffsetOf& flashOffset, int dump, const TreeFile& file) {
  if (!file.offset) return std::nullopt;
  return flashOffset(dump, *file.offset);
}

// Every differing byte of two equally long files at one flash offset is masked.
bool OnlyMaskedBytesDiffer(const TreeFile& a, const TreeFile& b, uint64_t flash, const IsMasked& isMasked) {
  if (a.size != b.size) return false;
  bool any = false;
  for (uint64_t i = 0; i < a.size; ++i) {
    if (a.bytes[i] == b.bytes[i]) continue;
    if (!isMasked(flash + i, flash + i + 1)) return false;
    any = true;
  }
  return any;
}

std::string Problems(const TreeFile& file) {
  std::string text;
  for (const std::string& problem : file.problems) text += (text.empty() ? "" : "; ") + problem;
  return text;
}

// The path a file's own contents carry: its volume path and its GUID.
std::vector<Guid> InnerPath(const TreeFile& file) {
  std::vector<Guid> path = file.path;
  path.push_back(file.guid);
  return path;
}

// The unreadable file whose contents hold this path, if any.
const TreeFile* HiddenBy(const std::map<std::vector<Guid>, const TreeFile*>& unreadable, const TreeFile& file) {
  if (unreadable.empty()) return nullptr;
  std::vector<Guid> prefix;
  for (const Guid& guid : file.path) {
    prefix.push_back(guid);
    if (auto found = unreadable.find(prefix); found != unreadable.end()) return found->second;
  }
  return nullptr;
}

using NameKey = std::pair<Guid, std::string>;
NameKey NameOf(const TreeFile& file) { return {file.guid, file.name.value_or("")}; }

struct NameHash {
  size_t operator()(const NameKey& key) const {
    uint64_t hash = std::hash<std::string>()(key.second);
    for (uint8_t byte : key.first) hash = (hash ^ byte) * 1099511628211ull;
    return size_t(hash);
  }
};

// A file whose differences the board would never see: its own differing
// bytes are all masked, or it lies whole inside a masked area, or it lies
// in the decompressed bytes of a file that is so. Containers come before
// what they hold, so their mark is known first.
void MarkMasked(std::vector<FileChange>& changes, const fwtree::FirmwareTree* trees[2],
                const FlashOffsetOf& flashOffset, const IsMasked& isMasked) {
  std::unordered_map<const TreeFile*, bool> maskedFile;
  auto inMaskedArea = [&](int dump, const TreeFile& file) {
    const TreeFile* holder = &file;
    while (!holder->offset && holder->parentFile >= 0) holder = &trees[dump]->files[size_t(holder->parentFile)];
    if (holder != &file) {
      auto known = maskedFile.find(holder);
      if (known != maskedFile.end() && known->second) return true;
    }
    if (!holder->offset) return false;
    const uint64_t begin = flashOffset(dump, *holder->offset);
    return isMasked(begin, begin + holder->size);
  };
  for (FileChange& change : changes) {
    const bool unreadable =
        change.kind == FileChangeKind::UnreadableInMain || change.kind == FileChangeKind::UnreadableInBackup;
    bool masked = change.masked;
    for (int dump = 0; dump < 2 && !masked && !unreadable; ++dump) {
      const TreeFile* file = dump == 0 ? change.main : change.backup;
      masked = file != nullptr && inMaskedArea(dump, *file);
    }
    if (masked) {
      change.masked = true;
      change.kind = FileChangeKind::MaskedOnly;
    }
    for (const TreeFile* file : {change.main, change.backup})
      if (file != nullptr) maskedFile[file] = masked;
  }
}

}  // namespace

const char* FileChangeName(FileChangeKind kind) {
  switch (kind) {
    case FileChangeKind::Changed: return "changed";
    case FileChangeKind::Moved: return "moved";
    case FileChangeKind::OnlyInMain: return "only in Main";
    case FileChangeKind::OnlyInBackup: return "only in Backup";
    case FileChangeKind::UnreadableInMain: return "unreadable in Main";
    case FileChangeKind::UnreadableInBackup: return "unreadable in Backup";
    case FileChangeKind::HiddenInMain: return "hidden in Main";
    case FileChangeKind::HiddenInBackup: return "hidden in Backup";
    case FileChangeKind::MaskedOnly: return "differs only in masked areas";
  }
  return "?";
}

std::vector<FileChange> CompareFileTrees(const fwtree::FirmwareTree& main, const fwtree::FirmwareTree& backup,
                                         const FlashOffsetOf& flashOffset, const IsMasked& isMasked) {
  std::unordered_map<Key, const TreeFile*, KeyHash> backupFiles(backup.files.size());
  for (const TreeFile& file : backup.files) backupFiles.emplace(Key{&file}, &file);
  std::vector<bool> matched(backup.files.size(), false);

  std::vector<FileChange> changes;
  // Files one side cannot open, by the path their contents would carry.
  std::map<std::vector<Guid>, const TreeFile*> unreadableIn[2];
  for (const TreeFile& file : main.files) {
    auto found = backupFiles.find(Key{&file});
    if (found == backupFiles.end()) {
      changes.push_back({FileChangeKind::OnlyInMain, &file, nullptr});
      continue;
    }
    const TreeFile& other = *found->second;
    matched[size_t(&other - backup.files.data())] = true;
    const bool mainOpens = file.problems.empty();
    const bool backupOpens = other.problems.empty();
    if (mainOpens != backupOpens) {
      FileChange change{mainOpens ? FileChangeKind::UnreadableInBackup : FileChangeKind::UnreadableInMain, &file,
                        &other};
      change.reason = Problems(mainOpens ? other : file);
      unreadableIn[mainOpens ? 1 : 0].emplace(InnerPath(mainOpens ? other : file), mainOpens ? &other : &file);
      changes.push_back(change);
      continue;
    }
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

  // A file missing on the side that cannot open what holds it is hidden,
  // not removed.
  for (FileChange& change : changes) {
    if (change.kind == FileChangeKind::OnlyInMain) {
      if (const TreeFile* by = HiddenBy(unreadableIn[1], *change.main)) {
        change.kind = FileChangeKind::HiddenInBackup;
        change.hiddenBy = by;
      }
    } else if (change.kind == FileChangeKind::OnlyInBackup) {
      if (const TreeFile* by = HiddenBy(unreadableIn[0], *change.backup)) {
        change.kind = FileChangeKind::HiddenInMain;
        change.hiddenBy = by;
      }
    }
  }

  // A file whose GUID and name are unique on each side, found only in Main
  // under one path and only in Backup under another, moved between volumes.
  std::unordered_map<NameKey, size_t, NameHash> onlyInBackup;
  for (size_t i = 0; i < changes.size(); ++i)
    if (changes[i].kind == FileChangeKind::OnlyInBackup) onlyInBackup.emplace(NameOf(*changes[i].backup), i);
  std::unordered_map<NameKey, size_t, NameHash> candidates;  // name: its change only in Main
  for (size_t i = 0; i < changes.size() && !onlyInBackup.empty(); ++i)
    if (changes[i].kind == FileChangeKind::OnlyInMain && onlyInBackup.count(NameOf(*changes[i].main)))
      candidates.emplace(NameOf(*changes[i].main), i);
  // How often each candidate name occurs in either tree: it must be once.
  std::unordered_map<NameKey, int, NameHash> occurrences;
  for (const fwtree::FirmwareTree* tree : {&main, &backup})
    for (const TreeFile& file : tree->files)
      if (!candidates.empty())
        if (auto found = candidates.find(NameOf(file)); found != candidates.end()) ++occurrences[found->first];
  std::vector<bool> merged(changes.size(), false);
  for (const auto& [name, index] : candidates) {
    if (occurrences[name] != 2) continue;
    FileChange& change = changes[index];
    const size_t other = onlyInBackup.at(name);
    const TreeFile* moved = changes[other].backup;
    change.kind = FileChangeKind::Moved;
    change.backup = moved;
    change.contentChanged =
        change.main->size != moved->size || std::memcmp(change.main->bytes, moved->bytes, moved->size) != 0;
    merged[other] = true;
  }
  std::vector<FileChange> result;
  result.reserve(changes.size());
  for (size_t i = 0; i < changes.size(); ++i)
    if (!merged[i]) result.push_back(std::move(changes[i]));
  const fwtree::FirmwareTree* trees[2] = {&main, &backup};
  MarkMasked(result, trees, flashOffset, isMasked);
  return result;
}

FileChangeCounts CountFileChanges(const std::vector<FileChange>& changes) {
  FileChangeCounts counts;
  for (const FileChange& change : changes) {
    switch (change.kind) {
      case FileChangeKind::Changed: ++counts.changed; break;
      case FileChangeKind::Moved: ++(change.contentChanged ? counts.changed : counts.moved); break;
      case FileChangeKind::OnlyInMain: ++counts.onlyInMain; break;
      case FileChangeKind::OnlyInBackup: ++counts.onlyInBackup; break;
      case FileChangeKind::UnreadableInMain:
      case FileChangeKind::UnreadableInBackup: ++counts.unreadable; break;
      case FileChangeKind::HiddenInMain:
      case FileChangeKind::HiddenInBackup: ++counts.hidden; continue;
      case FileChangeKind::MaskedOnly: ++counts.maskedOnly; continue;
    }
    const TreeFile* file = change.main != nullptr ? change.main : change.backup;
    if (file->compressed) ++counts.compressed;
  }
  return counts;
}

}  // namespace pdiff
