// SPDX-License-Identifier: BSD-2-Clause-Patent
// VBOARD.BIN: the compact form of a simulated board that the virtual-board
// driver reads from its FAT drive. pellrix-sim writes it (--write-vboard) next
// to the two chip images; the driver turns it back into a BoardModel.
//
// The file is this header, stored little-endian exactly as laid out below
// (both ends are x86-64), with no padding anywhere. The driver puts the
// board's ACPI view (no tables, no FADT, the FADT's SMI_CMD) and allocation
// failures between the program and the real firmware; what the processor and
// the firmware decide for themselves (PCI functions, MTRRs, the FAT drive's
// failures and free space) is not part of it.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vboard {

inline constexpr char kBoardFileName[] = "VBOARD.BIN";
inline constexpr char kMainImageName[] = "MAIN.ROM";
inline constexpr char kBackupImageName[] = "BACK.ROM";
inline constexpr uint8_t kMagic[8] = {'P', 'X', 'V', 'B', 'O', 'A', 'R', 'D'};
inline constexpr uint32_t kVersion = 2;
// At most this many of the board's allocation failures are carried.
inline constexpr unsigned kMostAllocationFailures = 16;

enum ChipSelectPresence : uint8_t { kChipSelectPresent = 0, kChipSelectAbsent = 1 };

struct ChipRecord {
  uint32_t flash_size;    // reported by the mailbox
  uint32_t bios_size;     // reported by the mailbox
  uint32_t block_size;    // reported by the mailbox
  uint32_t window_bytes;  // top bytes of the part mapped in the window
  uint64_t image_size;    // bytes in the image file; reads past them give 0xFF
  char part_name[48];     // NUL padded, not necessarily terminated
  char image_file[16];    // 8.3 name in the board file's directory, NUL terminated
};

struct BoardFile {
  uint8_t magic[8];
  uint32_t version;
  uint32_t header_size;       // sizeof(BoardFile)
  uint8_t active;             // raw chip position at start; Backup answers while it is 1
  uint8_t is_supported;       // what the chip-select protocol's IsSupported answers
  uint8_t chip_select;        // ChipSelectPresence
  uint8_t switch_mode;        // sim::SwitchMode
  uint8_t mailbox;            // sim::MailboxMode
  uint8_t acpi;               // sim::AcpiMode
  uint16_t smi_port;          // the FADT's SMI_CMD the program is shown
  uint64_t mailbox_answer;    // when not 0, the handshake answers this
  ChipRecord chips[2];        // Main, Backup
  uint32_t fail_alloc_count;  // entries of fail_alloc in use
  uint32_t reserved;
  uint64_t fail_alloc[kMostAllocationFailures];  // the program's pool allocations that fail, counted from 1
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the board file is stored as the host lays it out");
static_assert(sizeof(ChipRecord) == 88);
static_assert(offsetof(ChipRecord, image_size) == 16);
static_assert(offsetof(ChipRecord, part_name) == 24);
static_assert(offsetof(ChipRecord, image_file) == 72);
static_assert(offsetof(BoardFile, version) == 8);
static_assert(offsetof(BoardFile, active) == 16);
static_assert(offsetof(BoardFile, smi_port) == 22);
static_assert(offsetof(BoardFile, mailbox_answer) == 24);
static_assert(offsetof(BoardFile, chips) == 32);
static_assert(offsetof(BoardFile, fail_alloc) == 216);
static_assert(sizeof(BoardFile) == 344);

}  // namespace vboard
