// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/chip_hash.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace fleet {
namespace {

constexpr size_t kPiece = 1 << 20;

std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO, not a file: not read";
  if (S_ISSOCK(mode)) return "a socket, not a file: not read";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file: not read";
  if (S_ISDIR(mode)) return "a folder, not a file";
  return "not a regular file: not read";
}

bool Check(const struct stat& info, FileStamp* stamp, std::string* problem) {
  if (!S_ISREG(info.st_mode)) {
    *problem = KindOf(info.st_mode);
    return false;
  }
  stamp->device = uint64_t(info.st_dev);
  stamp->inode = uint64_t(info.st_ino);
  stamp->size = uint64_t(info.st_size);
  stamp->modifiedNanoseconds = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  stamp->changedNanoseconds = int64_t(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
  stamp->links = uint64_t(info.st_nlink);
  if (stamp->size == 0) {
    *problem = "0 bytes: an empty file, not a dump";
    return false;
  }
  return true;
}

}  // namespace

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modifiedNanoseconds == b.modifiedNanoseconds && a.changedNanoseconds == b.changedNanoseconds;
}

bool StampOf(const std::string& path, FileStamp* stamp, std::string* problem) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    *problem = errno == ELOOP ? "a link loop (too many levels of symbolic links)" : std::strerror(errno);
    return false;
  }
  return Check(info, stamp, problem);
}

bool HashFile(const std::string& path, uint64_t largest, FileStamp* stamp, std::string* sha256, std::string* problem) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *problem = errno == ELOOP ? "a link loop (too many levels of symbolic links)"
                              : std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !Check(info, stamp, problem)) {
    if (problem->empty()) *problem = std::string("cannot be read: ") + std::strerror(errno);
    close(fd);
    return false;
  }
  if (stamp->size > largest) {
    close(fd);
    *problem = std::to_string(stamp->size) + " bytes, larger than any flash part: not read";
    return false;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  static thread_local std::vector<uint8_t> piece(kPiece);
  uint64_t total = 0;
  for (;;) {
    const ssize_t n = read(fd, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *problem = std::string("read error: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    total += uint64_t(n);
    if (total > stamp->size) break;  // grew while read: the stamp no longer says what was hashed
    EVP_DigestUpdate(context.get(), piece.data(), size_t(n));
  }
  close(fd);
  if (total != stamp->size) {
    *problem = "changed size while read (" + std::to_string(stamp->size) + " bytes before, " + std::to_string(total) +
               " read)";
    return false;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(context.get(), digest, &length);
  static const char* const kDigits = "0123456789abcdef";
  sha256->clear();
  for (unsigned i = 0; i < length; ++i) {
    sha256->push_back(kDigits[digest[i] >> 4]);
    sha256->push_back(kDigits[digest[i] & 15]);
  }
  return true;
}

}  // namespace fleet
