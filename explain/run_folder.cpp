// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "explain/run_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace explain {
namespace {

// The folder's descriptor and the name within it: "PELLRIX.REC/x" lies in
// PELLRIX.REC, opened without following a link. -1 when that folder is not
// one.
int FolderOf(int folder, const std::string& name, std::string* leaf) {
  const size_t slash = name.find('/');
  if (slash == std::string::npos) {
    *leaf = name;
    return dup(folder);
  }
  *leaf = name.substr(slash + 1);
  return openat(folder, name.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

constexpr size_t kLongestLine = 4096;

}  // namespace

RunFolder::~RunFolder() {
  if (fd_ >= 0) close(fd_);
}

bool RunFolder::Open(const std::string& path, std::string* problem) {
  path_ = path;
  fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    *problem = errno == ENOTDIR ? "not a folder: " + Escaped(path) : "no such folder: " + Escaped(path);
    return false;
  }
  return true;
}

RunFolder::Kind RunFolder::KindOf(const std::string& name, uint64_t* size) const {
  std::string leaf;
  const int folder = FolderOf(fd_, name, &leaf);
  if (folder < 0) return Kind::Absent;
  struct stat info {};
  const int status = fstatat(folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW);
  close(folder);
  if (status != 0) return Kind::Absent;
  if (size != nullptr) *size = uint64_t(info.st_size);
  if (S_ISREG(info.st_mode)) return Kind::Regular;
  if (S_ISDIR(info.st_mode)) return Kind::Folder;
  if (S_ISLNK(info.st_mode)) return Kind::Link;
  return Kind::Other;
}

int RunFolder::OpenRegular(const std::string& name, std::string* problem) const {
  switch (KindOf(name)) {
    case Kind::Regular: break;
    case Kind::Absent: *problem = name + " is missing"; return -1;
    case Kind::Link: *problem = name + " is a link (not followed)"; return -1;
    case Kind::Folder: *problem = name + " is a folder"; return -1;
    case Kind::Other: *problem = name + " is not a regular file (a FIFO, socket or device)"; return -1;
  }
  std::string leaf;
  const int folder = FolderOf(fd_, name, &leaf);
  if (folder < 0) {
    *problem = name + " cannot be read";
    return -1;
  }
  // No link followed, no wait on a FIFO put there since the look above.
  const int fd = openat(folder, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  close(folder);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) close(fd);
    *problem = name + " cannot be read";
    return -1;
  }
  return fd;
}

bool RunFolder::Read(const std::string& name, uint64_t most, std::string* text, bool* whole,
                     std::string* problem) const {
  const int fd = OpenRegular(name, problem);
  if (fd < 0) return false;
  text->assign(size_t(most) + 1, '\0');
  size_t count = 0;
  bool ok = true;
  while (count < text->size()) {
    const ssize_t n = read(fd, text->data() + count, text->size() - count);
    if (n < 0) ok = false;
    if (n <= 0) break;
    count += size_t(n);
  }
  close(fd);
  if (!ok) {
    *problem = name + " cannot be read";
    return false;
  }
  *whole = count <= most;
  text->resize(std::min<size_t>(count, size_t(most)));
  return true;
}

bool RunFolder::ForEachLine(const std::string& name, uint64_t mostBytes,
                            const std::function<void(const std::string&)>& line, std::string* problem) const {
  const int fd = OpenRegular(name, problem);
  if (fd < 0) return false;
  std::string pending;
  char block[65536];
  uint64_t total = 0;
  bool ok = true;
  while (total < mostBytes) {
    const ssize_t n = read(fd, block, std::min<uint64_t>(sizeof block, mostBytes - total));
    if (n < 0) {
      *problem = name + " cannot be read";
      ok = false;
      break;
    }
    if (n == 0) break;
    total += uint64_t(n);
    for (ssize_t i = 0; i < n; ++i) {
      if (block[i] != '\n') {
        // A line longer than anything the kit writes is cut, not held.
        if (pending.size() < kLongestLine) pending += block[i];
        continue;
      }
      line(pending);
      pending.clear();
    }
  }
  if (ok && !pending.empty()) line(pending);
  close(fd);
  return ok;
}

std::vector<std::string> RunFolder::Entries() const {
  std::vector<std::string> names;
  const int copy = dup(fd_);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    close(copy);
    return names;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool RunFolder::Writable() const { return faccessat(fd_, ".", W_OK, AT_EACCESS) == 0; }

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
      continue;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

}  // namespace explain
