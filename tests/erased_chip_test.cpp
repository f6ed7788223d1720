// SPDX-License-Identifier: BSD-2-Clause-Patent
// A chip without bytes is an erased part: every way the program reads a chip
// (mailbox blocks, the flash window) sees the same as on a chip that holds
// flash_size bytes of 0xFF, whatever the geometry.
#include <gtest/gtest.h>

#include "tests/support/sim_support.h"

using support::PatternChip;
using support::ReadFileBytes;
using support::TempDir;

namespace {

struct RunOutcome {
  sim::RunResult result;
  std::map<std::string, std::vector<uint8_t>> files;
};

RunOutcome RunIn(const sim::Board& board, const std::vector<std::string>& arguments) {
  TempDir directory;
  RunOutcome run{sim::RunOnBoard(board, arguments, directory.str()), {}};
  for (const auto& entry : std::filesystem::directory_iterator(directory.path()))
    run.files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  return run;
}

TEST(ErasedChip, ReadsAsErasedBytesAtEveryGeometry) {
  constexpr uint32_t kPart = 0x8000;
  for (uint32_t block : {1u, 3u, 4096u, 0x40000000u})
    for (uint32_t bios : {0x4000u, kPart, 0x10000u})  // inside, the whole part, larger than the part
      for (int erasedPosition : {0, 1}) {
        SCOPED_TRACE("block " + std::to_string(block) + ", BIOS " + std::to_string(bios) + ", erased chip " +
                     std::to_string(erasedPosition));
        sim::Board sparse;
        sparse.main = PatternChip(kPart, bios, block, 7);
        sparse.backup = PatternChip(kPart, bios, block, 8);
        sim::Chip& erased = erasedPosition == 0 ? sparse.main : sparse.backup;
        erased = sim::ErasedChip(kPart, bios, block);
        sim::Board dense = sparse;
        (erasedPosition == 0 ? dense.main : dense.backup).image.assign(kPart, 0xFF);

        for (const std::vector<std::string>& command :
             {std::vector<std::string>{}, std::vector<std::string>{"/i"}, std::vector<std::string>{"/s", "1"},
              std::vector<std::string>{"/s", "2"}}) {
          RunOutcome fromNothing = RunIn(sparse, command);
          RunOutcome fromBytes = RunIn(dense, command);
          EXPECT_EQ(fromNothing.result.output, fromBytes.result.output);
          EXPECT_EQ(fromNothing.result.exit_status, fromBytes.result.exit_status);
          EXPECT_EQ(fromNothing.result.report.smi.read_block, fromBytes.result.report.smi.read_block);
          EXPECT_EQ(fromNothing.files, fromBytes.files);
        }
      }
}

}  // namespace
