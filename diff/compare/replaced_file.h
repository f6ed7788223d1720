// SPDX-License-Identifier: BSD-2-Clause-Patent
// A file the host tools write whole (a report page, the fleet's cache):
// written beside its name under a fresh name and renamed over, so that an
// earlier one is replaced whole or left as it was. Only a regular file, or a
// name not yet taken, is ever replaced: never a device, a pipe, a folder, a
// link to nothing, one of the files the run reads, or (when the writer says
// what its files look like) a file the tool did not write.
#pragma once

#include <sys/types.h>

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pdiff {

struct ReplacedFile {
  std::string option;               // "--html", "--cache": names the target in messages
  std::vector<std::string> inputs;  // files the run reads: never replaced
  // True when the first bytes (up to 4 KiB) of an existing, non-empty file
  // show it is one of the tool's own; null: any regular file is.
  std::function<bool(std::string_view head)> ours;
};

// Where a file for `target` goes (a link to one of the tool's files is
// followed and stays) and with which mode (an existing file's, or a new
// file's under the umask). Empty on success, else the one-line reason.
std::string ReplaceTarget(const ReplacedFile& kind, const std::string& target, std::string* destination, mode_t* mode);

// Writes `write`'s bytes to `target` as above. False with a one-line
// `problem`; nothing is left behind then.
bool ReplaceFile(const ReplacedFile& kind, const std::string& target, const std::function<void(std::ostream&)>& write,
                 std::string* problem);

}  // namespace pdiff
