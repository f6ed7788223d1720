// SPDX-License-Identifier: BSD-2-Clause-Patent
// A run folder from the field, read without trusting it: only regular files
// directly in it (or in its PELLRIX.REC) are opened, never through a link,
// never a FIFO or a device, and never more than the reader asks for.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace explain {

class RunFolder {
 public:
  RunFolder() = default;
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  // Opens the folder the user named (a link the user gives is the user's
  // choice and is followed). False with a one-line `problem`.
  bool Open(const std::string& path, std::string* problem);

  enum class Kind { Absent, Regular, Folder, Link, Other };
  // What `name` is, the link itself never followed ("PELLRIX.REC/board.json"
  // looks into PELLRIX.REC only when it is a folder and not a link).
  Kind KindOf(const std::string& name, uint64_t* size = nullptr) const;

  // Reads up to `most` bytes of the regular file `name`; `whole` tells
  // whether that was all of it. False with a one-line `problem` for a file
  // that is absent, not regular, or cannot be read.
  bool Read(const std::string& name, uint64_t most, std::string* text, bool* whole, std::string* problem) const;

  // Calls `line` with each line of the regular file `name` (without its
  // '\n'), at most `mostBytes` read; false as Read.
  bool ForEachLine(const std::string& name, uint64_t mostBytes, const std::function<void(const std::string&)>& line,
                   std::string* problem) const;

  // The folder's entries, sorted, "." and ".." left out.
  std::vector<std::string> Entries() const;

  // True when a new file can be made in the folder.
  bool Writable() const;

  const std::string& path() const { return path_; }

 private:
  // An open descriptor of the regular file `name`, or -1 with `problem`.
  int OpenRegular(const std::string& name, std::string* problem) const;

  int fd_ = -1;
  std::string path_;
};

// Every byte outside printable ASCII, and the backslash, as "\xNN": nothing
// from the field reaches the terminal as a control.
std::string Escaped(const std::string& text);

}  // namespace explain
