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
  // The change time too: a file rewritten in place with its modification
  // time put back still has a new one.
  int64_t changedNanoseconds = 0;
  uint64_t links = 1;  // names of the file: more than one, and it may be reached again
};

// Whether two stamps say the same content (the link count aside).
bool SameStamp(const FileStamp& a, const FileStamp& b);

// Only regular files, opened without waiting (a FIFO never blocks) and
// never more than `largest` bytes. False with a one-line reason.
bool StampOf(const std::string& path, FileStamp* stamp, std::string* problem);
bool HashFile(const std::string& path, uint64_t largest, FileStamp* stamp, std::string* sha256, std::string* problem);

}  // namespace fleet
