// SPDX-License-Identifier: BSD-2-Clause-Patent
// A save that fails loses nothing: every failure ends with the failure line and
// status 130, leaves no temporary file, and leaves an earlier MAIN.BIN byte for
// byte as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "tests/support/identity_boards.h"
#include "tests/support/sim_support.h"

using support::Banner;
using support::IdentityBoard;
using support::ReadFileBytes;
using support::TempDir;

namespace {

namespace fs = std::filesystem;

const std::string kReadCaption = "Reading BIOS from flash ROM ..... ";
const std::string kWriteCaption = "Writing BIOS to disk ............ ";
const std::string kSaveFailure = "!!! Fail to save BIOS !!!\n";
const std::string kInvalidBios = "!!! Invalid onboard BIOS !!!\n";
const std::vector<uint8_t> kEarlierDump(0x30000, 0x5A);

struct FailureCase {
  std::string name;
  std::function<void(sim::Board&)> break_board;
  std::string failure_line = kSaveFailure;
};

// The image buffer is the last allocation of a save whose open fails.
uint64_t ImageBufferAllocation() {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.fail_file = sim::FileFailure::Open;
  return sim::RunOnBoard(board, {"/s", "1"}, dir.str()).report.pool_allocations;
}

std::vector<FailureCase> FailureCases() {
  uint64_t imageBuffer = ImageBufferAllocation();
  return {
      {"invalid geometry", [](sim::Board& b) { b.main.block_size = 0; }, kInvalidBios},
      {"image buffer", [imageBuffer](sim::Board& b) { b.fail_alloc = {imageBuffer}; }},
      {"erased top block", [](sim::Board& b) { b.main = sim::ErasedChip(0x10000, 0x4000); }},
      {"open", [](sim::Board& b) { b.fail_file = sim::FileFailure::Open; }},
      {"read",
       [](sim::Board& b) {
         b.main.bios_size = 0;  // the reader refuses; the window still shows the region
         b.main.window_bytes = 0x4000;
       }},
      {"write", [](sim::Board& b) { b.fail_file = sim::FileFailure::Write; }},
      {"close", [](sim::Board& b) { b.fail_file = sim::FileFailure::Close; }},
      {"rename", [](sim::Board& b) { b.fail_file = sim::FileFailure::Rename; }},
      {"disk full", [](sim::Board& b) { b.disk_free = 0x8000; }},
      {"rename into place", [](sim::Board& b) { b.fail_file = sim::FileFailure::RenameIntoPlace; }},
  };
}

std::string ReadFileText(const fs::path& path) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> DirectoryListing(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SaveFailure, EveryFailureKeepsTheEarlierFileAndEndsWith130) {
  for (const FailureCase& failure : FailureCases()) {
    for (bool earlier : {false, true}) {
      SCOPED_TRACE(failure.name + (earlier ? ", earlier MAIN.BIN present" : ", no earlier file"));
      TempDir dir;
      if (earlier)
        std::ofstream(dir.path() / "MAIN.BIN", std::ios::binary)
            .write(reinterpret_cast<const char*>(kEarlierDump.data()),
                   static_cast<std::streamsize>(kEarlierDump.size()));
      sim::Board board = IdentityBoard();
      failure.break_board(board);
      sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
      EXPECT_EQ(run.exit_status, 130);
      EXPECT_NE(run.output.find(failure.failure_line + "\nCurrent BIOS position: MAIN\n"), std::string::npos);
      EXPECT_EQ(run.output.find("BIOS successfully saved"), std::string::npos);
      EXPECT_EQ(DirectoryListing(dir.path()),
                earlier ? std::vector<std::string>{"MAIN.BIN"} : std::vector<std::string>{});
      if (earlier) {
        EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), kEarlierDump);
      }
      EXPECT_TRUE(run.report.files.empty());
      EXPECT_EQ(run.report.pool_outstanding, 0u);
    }
  }
}

TEST(SaveFailure, TheFirstFailedWriteStopsTheWriting) {
  TempDir dir;
  sim::Board board = IdentityBoard();  // 64 KiB in 16 chunks of 4 KiB
  board.fail_file = sim::FileFailure::Write;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(support::ProgressValues(run.output, kWriteCaption), std::vector<int>{6});
}

TEST(SaveFailure, ReadFailureAfterTheOpenPrintsNoWriteProgress) {
  TempDir dir;
  sim::Board board = IdentityBoard();
  board.main.bios_size = 0;
  board.main.window_bytes = 0x4000;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.output,
            Banner() + "Current BIOS position: MAIN\n\n" + kSaveFailure + "\nCurrent BIOS position: MAIN\n");
}

TEST(SaveFailure, LeftoversOfAnInterruptedRunAreReplaced) {
  TempDir dir;
  std::ofstream(dir.path() / "MAIN.BIN") << "earlier";
  std::ofstream(dir.path() / "MAIN.BIN.NEW") << "half-written";
  std::ofstream(dir.path() / "MAIN.BIN.OLD") << "aside";
  sim::Board board = IdentityBoard();
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(DirectoryListing(dir.path()), std::vector<std::string>{"MAIN.BIN"});
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
  EXPECT_EQ(run.report.files, std::vector<std::string>{"MAIN.BIN"});
}

TEST(SaveFailure, TooLittleFreeSpaceIsRefusedBeforeAnythingIsCreated) {
  // A FAT rename may need a cluster to grow the directory: without it the
  // renames could leave the dump with no directory entry.
  sim::Board board = IdentityBoard();  // 64 KiB
  const uint64_t image = board.main.image.size();
  for (bool earlier : {false, true}) {
    for (uint64_t free : {uint64_t{3 * 4096 + 100}, image, image + 4095}) {
      SCOPED_TRACE(std::to_string(free) + (earlier ? " with an earlier MAIN.BIN" : ""));
      TempDir dir;
      if (earlier) std::ofstream(dir.path() / "MAIN.BIN") << "earlier";
      board.disk_free = free;
      sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
      EXPECT_EQ(run.exit_status, 130);
      EXPECT_EQ(run.output,
                Banner() + "Current BIOS position: MAIN\n\n" + kSaveFailure + "\nCurrent BIOS position: MAIN\n");
      EXPECT_EQ(DirectoryListing(dir.path()),
                earlier ? std::vector<std::string>{"MAIN.BIN"} : std::vector<std::string>{});
      if (earlier) {
        EXPECT_EQ(ReadFileText(dir.path() / "MAIN.BIN"), "earlier");
      }
    }
  }
  TempDir dir;
  board.disk_free = image + 4096;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(ReadFileBytes(dir.path() / "MAIN.BIN"), board.main.image);
}

TEST(SaveFailure, AFolderUnderAnyOfTheSaveNamesIsLeftAlone) {
  sim::Board board = IdentityBoard();
  for (const char* name : {"MAIN.BIN", "MAIN.BIN.NEW", "MAIN.BIN.OLD"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::filesystem::create_directory(dir.path() / name);
    std::ofstream(dir.path() / name / "KEEP.TXT") << "kept";
    std::filesystem::create_directory(dir.path() / "EMPTY");
    sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
    EXPECT_EQ(run.exit_status, 130);
    EXPECT_NE(run.output.find(kSaveFailure), std::string::npos);
    EXPECT_EQ(DirectoryListing(dir.path()), (std::vector<std::string>{"EMPTY", name}));
    EXPECT_EQ(ReadFileText(dir.path() / name / "KEEP.TXT"), "kept");
  }
  // An empty folder named MAIN.BIN is not deleted either.
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "MAIN.BIN");
  EXPECT_EQ(sim::RunOnBoard(board, {"/s", "1"}, dir.str()).exit_status, 130);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "MAIN.BIN"));
}

TEST(SaveFailure, AFailedRenameIntoPlaceBringsTheEarlierFileBack) {
  TempDir dir;
  std::ofstream(dir.path() / "MAIN.BIN") << "earlier";
  sim::Board board = IdentityBoard();
  board.fail_file = sim::FileFailure::RenameIntoPlace;
  sim::RunResult run = sim::RunOnBoard(board, {"/s", "1"}, dir.str());
  EXPECT_EQ(run.exit_status, 130);
  EXPECT_NE(run.output.find(kSaveFailure), std::string::npos);
  EXPECT_EQ(DirectoryListing(dir.path()), std::vector<std::string>{"MAIN.BIN"});
  EXPECT_EQ(ReadFileText(dir.path() / "MAIN.BIN"), "earlier");
}

TEST(SaveFailure, ALoneAsideFileLastsOneSave) {
  // Only the aside file is left when a run stopped between its two renames:
  // it is then the one good dump, and the next save leaves it beside the new
  // one. The save after that takes it for a stale leftover.
  TempDir dir;
  std::ofstream(dir.path() / "MAIN.BIN.OLD") << "aside";
  sim::Board board = IdentityBoard();
  ASSERT_EQ(sim::RunOnBoard(board, {"/s", "1"}, dir.str()).exit_status, 128);
  EXPECT_EQ(DirectoryListing(dir.path()), (std::vector<std::string>{"MAIN.BIN", "MAIN.BIN.OLD"}));
  EXPECT_EQ(ReadFileText(dir.path() / "MAIN.BIN.OLD"), "aside");
  ASSERT_EQ(sim::RunOnBoard(board, {"/s", "1"}, dir.str()).exit_status, 128);
  EXPECT_EQ(DirectoryListing(dir.path()), std::vector<std::string>{"MAIN.BIN"});
}

}  // namespace
