// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/dump_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace pdiff {

DumpBuffer::~DumpBuffer() { Unmap(); }

void DumpBuffer::Unmap() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
  mapping_ = nullptr;
}

bool DumpBuffer::Read(const std::string& path, uint64_t largest, std::string* problem) {
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
  } else if (uint64_t(info.st_size) > largest) {
    *problem = std::to_string(info.st_size) + " bytes, more than the " + std::to_string(largest) +
               " bytes of the largest flash part; give --flash-size to compare it anyway";
    ok = false;
  } else if (info.st_size == 0) {
    *problem = "empty file";
    ok = false;
  } else {
    // Private: the masks write into the pages they touch, never the file,
    // and only those pages are copied. Not populated: a page is read when
    // it is used, so what is refused later has cost no memory.
    const size_t length = size_t(info.st_size);
    void* mapping = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
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

void DumpBuffer::PadErased(uint64_t front, uint64_t back) {
  std::vector<uint8_t> padded;
  padded.reserve(front + size_ + back);
  padded.assign(front, 0xFF);
  // Copied a slice at a time, each slice of the mapping released once
  // copied, so the file is never held twice. Nothing has written to the
  // mapping yet, so releasing loses nothing.
  constexpr uint64_t kSlice = 1 << 24;
  for (uint64_t at = 0; at < size_; at += kSlice) {
    const uint64_t length = std::min(kSlice, size_ - at);
    padded.insert(padded.end(), data_ + at, data_ + at + length);
    if (mapping_ != nullptr) madvise(data_ + at, length, MADV_DONTNEED);
  }
  padded.insert(padded.end(), back, 0xFF);
  Unmap();
  copy_ = std::move(padded);
  data_ = copy_.data();
  size_ = copy_.size();
}

}  // namespace pdiff
