// SPDX-License-Identifier: BSD-2-Clause-Patent
// The built pellrix-sim run as a separate process, as scripts run it, with
// control over where its standard output goes.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace support {

enum class SimStdout {
  Captured,    // a pipe the test reads
  BrokenPipe,  // a pipe whose reading end is already closed
  FullDevice,  // /dev/full
  Closed,      // no descriptor 1 at all
};

struct SimOutcome {
  int status = -1;  // the exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
  long max_rss_kib = 0;  // the process's peak resident memory
};

// Runs pellrix-sim with `words`. `inheritedDescriptor`, when not -1, stays
// open in the process (for a board file given as /dev/fd/N).
SimOutcome RunSimulator(const std::vector<std::string>& words, SimStdout stdoutTo = SimStdout::Captured,
                        int inheritedDescriptor = -1);

// Every entry under `directory` with its type, size, modification time and,
// for regular files up to 64 MiB, its bytes: two snapshots are equal exactly
// when nothing was created, removed or written in between. FIFOs are never
// opened.
std::map<std::string, std::string> SnapshotTree(const std::filesystem::path& directory);

}  // namespace support
