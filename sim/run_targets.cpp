// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/run_targets.h"

#include <sys/stat.h>

#include <filesystem>

namespace sim {

namespace {

namespace fs = std::filesystem;

// The names a save may create or replace beside MAIN.BIN and BACKUP.BIN; the
// two themselves may be the replayed images (the chip is read before its
// file is replaced).
constexpr const char* kSaveSideNames[] = {"MAIN.BIN.NEW", "MAIN.BIN.OLD", "BACKUP.BIN.NEW", "BACKUP.BIN.OLD"};
constexpr const char* kSavedNames[] = {"MAIN.BIN", "BACKUP.BIN"};

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// An output that exists must be a plain file (never a link, a FIFO or a
// folder) and none of the inputs.
bool CheckOutput(const std::string& what, const std::string& path, const std::vector<std::string>& inputs,
                 std::string* problem) {
  struct stat output {};
  if (lstat(path.c_str(), &output) != 0) return true;
  if (!S_ISREG(output.st_mode)) {
    *problem = what + " " + path + ": exists and is not a regular file";
    return false;
  }
  for (const std::string& input : inputs) {
    struct stat read {};
    if (stat(input.c_str(), &read) == 0 && SameFile(read, output)) {
      *problem = what + " " + path + ": is the input " + input + ", which the run would overwrite";
      return false;
    }
  }
  return true;
}

// True when `path` names `name` in the folder `directory`.
bool NamesFileIn(const std::string& path, const std::string& directory, const char* name) {
  fs::path target(path);
  if (target.filename() != name) return false;
  std::string parent = target.parent_path().string();
  struct stat a {
  }, b{};
  return stat(parent.empty() ? "." : parent.c_str(), &a) == 0 && stat(directory.c_str(), &b) == 0 && SameFile(a, b);
}

}  // namespace

bool CheckRunTargets(const RunTargets& targets, std::string* problem) {
  if (!IsDirectory(targets.directory)) {
    *problem = "--dir " + targets.directory + ": not an existing directory";
    return false;
  }
  for (const char* name : kSaveSideNames)
    if (!CheckOutput("--dir file", (fs::path(targets.directory) / name).string(), targets.inputs, problem))
      return false;
  if (targets.report.empty()) return true;
  std::string reportDirectory = fs::path(targets.report).parent_path().string();
  if (!IsDirectory(reportDirectory.empty() ? "." : reportDirectory)) {
    *problem = "--report " + targets.report + ": its directory does not exist";
    return false;
  }
  if (IsDirectory(targets.report)) {
    *problem = "--report " + targets.report + ": is a directory";
    return false;
  }
  for (const char* name : kSavedNames)
    if (NamesFileIn(targets.report, targets.directory, name)) {
      *problem = "--report " + targets.report + ": is a file the run may save";
      return false;
    }
  for (const char* name : kSaveSideNames)
    if (NamesFileIn(targets.report, targets.directory, name)) {
      *problem = "--report " + targets.report + ": is a file the run may save";
      return false;
    }
  return CheckOutput("--report", targets.report, targets.inputs, problem);
}

}  // namespace sim
