// SPDX-License-Identifier: BSD-2-Clause-Patent
// Shared helpers for tests that drive the tool on the simulated board.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "firmware/tool_state.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "sim/machine_impl.h"

namespace support {

// The three banner lines every run starts with.
std::string Banner();
// The usage text, exactly.
std::string UsageText();

// A chip whose every byte is different from its neighbours' (a position- and
// seed-dependent pattern), so misplaced reads show.
sim::Chip PatternChip(uint32_t flashSize, uint32_t biosSize, uint32_t blockSize, uint32_t seed);

// A small board of two pattern chips (no descriptors).
sim::Board PatternBoard(uint32_t flashSize = 0x20000, uint32_t biosSize = 0x10000, uint32_t blockSize = 4096);

// The percentages of the progress lines "\r<caption>N%..." in `output`, in order.
std::vector<int> ProgressValues(const std::string& output, const std::string& caption);

// Resets the program's state and performs the mailbox handshake, as start-up
// would, on the installed machine.
void StartFirmware();

// A fresh empty directory, removed again at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);

}  // namespace support
