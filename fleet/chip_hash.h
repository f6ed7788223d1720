// SPDX-License-Identifier: BSD-2-Clause-Patent
// A chip's SHA-256 read in pieces from the file: a chip identical to golden
// is known from this alone, with one piece of memory however large it is.
#pragma once

#include <cstdint>
#include <string>

namespace fleet {

// What identifies the file's content without reading it again.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;
};

// Only regular files, opened without waiting (a FIFO never blocks) and
// never more than `largest` bytes. False with a one-line reason.
bool StampOf(const std::string& path, FileStamp* stamp, std::string* problem);
bool HashFile(const std::string& path, uint64_t largest, FileStamp* stamp, std::string* sha256, std::string* problem);

}  // namespace fleet
