// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/replaced_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "diff/compare/escaped_text.h"

namespace pdiff {
namespace {

constexpr size_t kHeadRead = 4096;

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The first bytes of a regular file, opened without following a link or
// waiting (it was a regular file a moment ago; it may not be now).
bool ReadHead(const std::string& path, std::string* head) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  head->assign(kHeadRead, '\0');
  size_t count = 0;
  while (count < head->size()) {
    const ssize_t n = read(fd, head->data() + count, head->size() - count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    count += size_t(n);
  }
  close(fd);
  head->resize(count);
  return true;
}

}  // namespace

std::string ReplaceTarget(const ReplacedFile& kind, const std::string& target, std::string* destination, mode_t* mode) {
  const std::string named = kind.option + " " + EscapedText(target);
  if (target.empty()) return kind.option + " needs a file name";
  if (target == "-") return kind.option + " needs a file name; it cannot go to standard output";
  struct stat link {};
  if (lstat(target.c_str(), &link) != 0) {
    if (errno != ENOENT) return named + ": " + std::strerror(errno);
    const std::string folder = FolderOf(target);
    struct stat place {};
    if (stat(folder.c_str(), &place) != 0) return named + ": its folder: " + std::strerror(errno);
    if (!S_ISDIR(place.st_mode)) return named + ": its folder is not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
      return named + ": its folder cannot be written: " + std::strerror(errno);
    *destination = target;
    const mode_t mask = umask(0);
    umask(mask);
    *mode = 0666 & ~mask;
    return "";
  }
  std::string resolved = target;
  if (S_ISLNK(link.st_mode)) {
    std::error_code error;
    resolved = std::filesystem::canonical(target, error).string();
    if (error) return named + " is a link to nothing that can be read: give a file name";
  }
  struct stat file {};
  if (stat(resolved.c_str(), &file) != 0) return named + ": " + std::strerror(errno);
  if (!S_ISREG(file.st_mode)) {
    const char* what = S_ISDIR(file.st_mode)                            ? "a folder"
                       : S_ISFIFO(file.st_mode)                         ? "a pipe"
                       : S_ISCHR(file.st_mode) || S_ISBLK(file.st_mode) ? "a device"
                                                                        : "not a regular file";
    return named + " is " + what + ": only a regular file or a new name is written";
  }
  for (const std::string& input : kind.inputs)
    if (SameFile(resolved, input)) return named + " is one of the files read: not replaced";
  if (kind.ours && file.st_size > 0) {
    std::string head;
    if (!ReadHead(resolved, &head)) return named + ": cannot be read to see what it is";
    if (!kind.ours(head)) return named + " is not a file this tool wrote: not replaced";
  }
  *destination = resolved;
  *mode = file.st_mode & 07777;
  return "";
}

bool ReplaceFile(const ReplacedFile& kind, const std::string& target, const std::function<void(std::ostream&)>& write,
                 std::string* problem) {
  std::string destination;
  mode_t mode = 0;
  *problem = ReplaceTarget(kind, target, &destination, &mode);
  if (!problem->empty()) return false;
  const std::filesystem::path path(destination);
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  // A fresh name each time (never a fixed one a link could be planted at).
  // Built piece by piece: GCC 12 at -O3 takes a literal joined to a
  // temporary string for an overlapping copy (-Wrestrict).
  std::string hidden = ".";
  hidden += path.filename().string();
  hidden += ".XXXXXX";
  std::string temporary = (folder / hidden).string();
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    *problem = EscapedText(target) + ": cannot write beside it: " + std::strerror(errno);
    return false;
  }
  // A new file is readable as any new file would be; one written over keeps
  // the mode it had.
  fchmod(descriptor, mode);
  close(descriptor);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  write(out);
  out.close();
  if (!out) {
    *problem = EscapedText(target) + ": write error";
    std::remove(temporary.c_str());
    return false;
  }
  // Asked again: the name may have changed while the file was written.
  std::string again;
  *problem = ReplaceTarget(kind, target, &again, &mode);
  if (problem->empty() && again != destination) *problem = EscapedText(target) + ": changed while written";
  if (!problem->empty() || std::rename(temporary.c_str(), destination.c_str()) != 0) {
    if (problem->empty()) *problem = EscapedText(target) + ": cannot replace it: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace pdiff
