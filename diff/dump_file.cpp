#include "diff/dump_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pdiff {

namespace {

// A flash window ends at 4 GiB: no part is larger.
constexpr uint64_t kLargestDump = 1ull << 32;

}  // namespace

DumpBuffer::~DumpBuffer() { Unmap(); }

void DumpBuffer::Unmap() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
  mapping_ = nullptr;
}

bool DumpBuffer::Read(const std::string& path, std::string* problem) {
  // Non-blocking: a FIFO would otherwise wait for a writer before fstat can
  // refuse it.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *problem = std::strerror(errno);
    return false;
  }
  struct stat info;
  bool ok = fstat(fd, &info) == 0;
  if (!ok) {
    *problem = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *problem = "not a regular file";
    ok = false;
  } else if (uint64_t(info.st_size) > kLargestDump) {
    *problem = "larger than 4 GiB, more than any flash part holds";
    ok = false;
  } else if (info.st_size == 0) {
    *problem = "empty file";
    ok = false;
  } else {
    // Private: the masks write into the pages they touch, never the file.
    // Populated while read-only, so that only the pages written are copied.
    const size_t length = size_t(info.st_size);
    void* mapping = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapping != MAP_FAILED && mprotect(mapping, length, PROT_READ | PROT_WRITE) != 0) {
      munmap(mapping, length);
      mapping = MAP_FAILED;
    }
    if (mapping == MAP_FAILED) {
      *problem = std::strerror(errno);
      ok = false;
    } else {
      mapping_ = mapping;
      data_ = static_cast<uint8_t*>(mapping);
      size_ = uint64_t(info.st_size);
    }
  }
  close(fd);
  return ok;
}

void DumpBuffer::PrependErased(uint64_t count) {
  std::vector<uint8_t> padded(count, 0xFF);
  padded.insert(padded.end(), data_, data_ + size_);
  Unmap();
  copy_ = std::move(padded);
  data_ = copy_.data();
  size_ = copy_.size();
}

}  // namespace pdiff
