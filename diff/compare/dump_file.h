// SPDX-License-Identifier: BSD-2-Clause-Patent
// A saved chip (or BIOS region) in memory: the file mapped copy-on-write, so
// that masking pays only for the pages it writes and the file itself is
// never copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdiff {

// A flash window ends at 4 GiB: no part is larger.
constexpr uint64_t kLargestDump = 1ull << 32;

class DumpBuffer {
 public:
  DumpBuffer() = default;
  ~DumpBuffer();
  DumpBuffer(const DumpBuffer&) = delete;
  DumpBuffer& operator=(const DumpBuffer&) = delete;

  // The whole file, mapped but not read: pages come in as they are used.
  // False with a one-line reason in `problem` when the file is missing,
  // unreadable, empty or larger than `largest` bytes (checked before
  // anything is mapped).
  bool Read(const std::string& path, uint64_t largest, std::string* problem);

  // Puts `front` erased (0xFF) bytes before the content and `back` after
  // it. Moves it.
  void PadErased(uint64_t front, uint64_t back);

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  void Unmap();

  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  void* mapping_ = nullptr;
  std::vector<uint8_t> copy_;  // used instead of the mapping once padded
};

}  // namespace pdiff
