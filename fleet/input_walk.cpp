// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/input_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <strings.h>

namespace fleet {
namespace {

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Files a kit's stick or an archive holds beside the dumps: not firmware.
bool IsCompanionFile(const std::string& name) {
  static const char* const kEndings[] = {".txt",   ".log", ".html", ".htm", ".nsh", ".json",
                                         ".jsonl", ".md",  ".efi",  ".new", ".csv", ".sha256"};
  for (const char* ending : kEndings) {
    const size_t length = std::strlen(ending);
    if (name.size() > length && strcasecmp(name.c_str() + name.size() - length, ending) == 0) return true;
  }
  return false;
}

std::string StatProblem(const std::string& path, int error) {
  if (error == ELOOP) return "a link loop (too many levels of symbolic links)";
  struct stat link {};
  if (error == ENOENT && lstat(path.c_str(), &link) == 0) return "a link to nothing";
  return std::strerror(error);
}

std::string KindProblem(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO, not a file: not read";
  if (S_ISSOCK(mode)) return "a socket, not a file: not read";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file: not read";
  return "not a regular file: not read";
}

struct FolderCloser {
  void operator()(DIR* folder) const { closedir(folder); }
};

// The kit's names of a folder's members, in any case (a FAT stick copied
// elsewhere may lower them).
struct Members {
  std::string main, backup, result;
  bool log = false;  // PELLRIX.LOG: a kit run, even one cut short before its result
  bool any() const { return !main.empty() || !backup.empty() || !result.empty() || log; }
};

Members FindMembers(DIR* folder) {
  Members members;
  while (const dirent* entry = readdir(folder)) {
    if (strcasecmp(entry->d_name, "MAIN.BIN") == 0) members.main = entry->d_name;
    if (strcasecmp(entry->d_name, "BACKUP.BIN") == 0) members.backup = entry->d_name;
    if (strcasecmp(entry->d_name, "RESULT.TXT") == 0) members.result = entry->d_name;
    if (strcasecmp(entry->d_name, "PELLRIX.LOG") == 0) members.log = true;
  }
  rewinddir(folder);
  return members;
}

}  // namespace

void InputWalk::Walk(const std::string& input) {
  struct stat info {};
  if (stat(input.c_str(), &info) != 0) {
    trouble_(input, StatProblem(input, errno));
    return;
  }
  // A dump given twice is one board; the grouper counts it once.
  if (S_ISDIR(info.st_mode) && !FirstVisit(info.st_dev, info.st_ino)) {
    trouble_(input, "already read under another name");
    return;
  }
  if (S_ISDIR(info.st_mode)) {
    Search(input, 0);
  } else if (S_ISREG(info.st_mode)) {
    File(input, uint64_t(info.st_size));
  } else {
    trouble_(input, KindProblem(info.st_mode));
  }
}

void InputWalk::File(const std::string& path, uint64_t size) {
  if (size == 0) {
    trouble_(path, "0 bytes: an empty file, not a dump");
    return;
  }
  BoardInput board;
  board.name = path;
  board.dump = path;
  boards_(std::move(board));
}

void InputWalk::Search(const std::string& folder, int depth) {
  std::unique_ptr<DIR, FolderCloser> handle(opendir(folder.c_str()));
  if (!handle) {
    trouble_(folder, std::string("folder cannot be read: ") + std::strerror(errno));
    return;
  }
  const Members members = FindMembers(handle.get());
  if (members.any()) {
    Board(folder, members.main, members.backup, members.result);
    return;
  }
  const int folderFd = dirfd(handle.get());
  while (const dirent* entry = readdir(handle.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = Join(folder, name);
    struct stat info {};
    if (fstatat(folderFd, entry->d_name, &info, 0) != 0) {
      trouble_(path, StatProblem(path, errno));
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      if (!FirstVisit(info.st_dev, info.st_ino)) {
        trouble_(path, "a link to a folder already searched: not searched again");
      } else if (depth + 1 > kDeepestSearch) {
        trouble_(path, "more than " + std::to_string(kDeepestSearch) + " folders deep: not searched");
      } else {
        Search(path, depth + 1);
      }
      continue;
    }
    if (!S_ISREG(info.st_mode)) {
      trouble_(path, KindProblem(info.st_mode));
      continue;
    }
    if (IsCompanionFile(name)) continue;
    File(path, uint64_t(info.st_size));
  }
}

void InputWalk::Board(const std::string& folder, const std::string& main, const std::string& backup,
                      const std::string& result) {
  BoardInput board;
  board.name = folder;
  // A member that cannot be reached is the board's trouble, told with it.
  if (!main.empty()) board.main = Join(folder, main);
  if (!backup.empty()) board.backup = Join(folder, backup);
  if (!result.empty()) board.result = Join(folder, result);
  boards_(std::move(board));
}

}  // namespace fleet
