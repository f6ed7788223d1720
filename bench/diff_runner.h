// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the pellrix-diff benchmarks share: a scratch folder for their
// inputs, the pellrix-diff to measure, and one timed command with its peak
// memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// A folder of that name in the temporary directory, made on first use.
std::filesystem::path ScratchDir(const std::string& name);
// Writes `bytes` as `name` in `dir`; the file's path.
std::string WriteInput(const std::filesystem::path& dir, const std::string& name, const std::vector<uint8_t>& bytes);
// The pellrix-diff built beside the benchmark, or $PELLRIX_DIFF.
std::string DiffPath();

struct Run {
  double seconds;
  double maxRssMib;
  double cpuSeconds;  // user and system, of the command and what it waited for
};
// One shell command, its wall time, CPU time and peak resident memory.
Run RunCommand(const std::string& command);

}  // namespace bench
