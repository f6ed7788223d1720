// SPDX-License-Identifier: BSD-2-Clause-Patent
// The virtual-board driver's checks of VBOARD.BIN and of mailbox destinations:
// whatever the file or a request holds, the driver refuses it rather than
// reading or writing memory it does not own.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/vboard/vboard_check.h"
#include "sim/vboard/vboard_writer.h"
#include "tests/support/identity_boards.h"

namespace {

using vboard::BoardFile;
using vboard::BoardFileProblem;

BoardFile SoundFile() { return vboard::BoardFileOf(support::IdentityBoard()); }

TEST(VboardCheck, TheWritersFileIsAccepted) {
  EXPECT_EQ(BoardFileProblem(SoundFile()), nullptr);
  sim::Board erased;
  erased.main = sim::ErasedChip(0x1000000, 0x800000);
  erased.backup = sim::ErasedChip(0x1000000, 0x800000);
  EXPECT_EQ(BoardFileProblem(vboard::BoardFileOf(erased)), nullptr);  // parts of no bytes
}

TEST(VboardCheck, ForeignOrOutOfRangeHeadersAreRefused) {
  const struct {
    const char* what;
    void (*spoil)(BoardFile&);
  } cases[] = {
      {"magic", [](BoardFile& f) { f.magic[7] = 'X'; }},
      {"version", [](BoardFile& f) { f.version = vboard::kVersion + 1; }},
      {"header size", [](BoardFile& f) { f.header_size = sizeof f - 8; }},
      {"switch mode", [](BoardFile& f) { f.switch_mode = uint8_t(kLastSwitchMode) + 1; }},
      {"mailbox mode", [](BoardFile& f) { f.mailbox = uint8_t(kLastMailboxMode) + 1; }},
      {"chip select", [](BoardFile& f) { f.chip_select = vboard::kChipSelectAbsent + 1; }},
      {"acpi mode", [](BoardFile& f) { f.acpi = uint8_t(kLastAcpiMode) + 1; }},
      {"allocation failures", [](BoardFile& f) { f.fail_alloc_count = vboard::kMostAllocationFailures + 1; }},
      {"empty image name", [](BoardFile& f) { f.chips[0].image_file[0] = '\0'; }},
      {"unterminated image name", [](BoardFile& f) { std::memset(f.chips[1].image_file, 'A', 16); }},
      {"image shorter than the part", [](BoardFile& f) { f.chips[1].image_size = f.chips[1].flash_size - 1; }},
  };
  for (const auto& c : cases) {
    BoardFile file = SoundFile();
    c.spoil(file);
    EXPECT_NE(BoardFileProblem(file), nullptr) << c.what;
  }
}

TEST(VboardCheck, GeometryTheMailboxMayReportIsAccepted) {
  // Regions and windows larger than the part, and images larger than it, are
  // boards the tests use on purpose; the model reads them safely.
  BoardFile file = SoundFile();
  file.chips[0].bios_size = 2 * file.chips[0].flash_size;
  file.chips[0].window_bytes = 0xFFFFFFFF;
  file.chips[1].image_size = uint64_t(file.chips[1].flash_size) + 4096;
  file.chips[1].block_size = 0;
  EXPECT_EQ(BoardFileProblem(file), nullptr);
}

TEST(VboardCheck, MailboxDestinations) {
  // Addresses are only compared, never followed: the image can be anywhere.
  constexpr uint64_t kImageAt = 0x200000;
  constexpr uint64_t kImageSize = 0x2000;
  sim::BoardModel board{};
  board.chips[1].image = reinterpret_cast<const uint8_t*>(uintptr_t(kImageAt));
  board.chips[1].image_size = kImageSize;
  auto allowed = [&](uint64_t address, uint32_t count) {
    return vboard::MailboxDestinationAllowed(board, address, count);
  };
  EXPECT_TRUE(allowed(0x100000, 0x1000));
  EXPECT_TRUE(allowed(0xFFFFF000, 0x1000));  // ends exactly at 4 GiB
  EXPECT_FALSE(allowed(0xFFFFF001, 0x1000));
  EXPECT_FALSE(allowed(0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_FALSE(allowed(0, 0x10));
  EXPECT_FALSE(allowed(0xFFF, 1));
  EXPECT_TRUE(allowed(0x1000, 1));
  // Over the board's own image, or touching either end of it.
  EXPECT_FALSE(allowed(kImageAt + 0x100, 0x10));
  EXPECT_FALSE(allowed(kImageAt - 0x10, 0x11));
  EXPECT_FALSE(allowed(kImageAt + kImageSize - 1, 0x10));
  EXPECT_TRUE(allowed(kImageAt + kImageSize, 0x10));
  EXPECT_TRUE(allowed(kImageAt - 0x10, 0x10));
}

}  // namespace
