// SPDX-License-Identifier: BSD-2-Clause-Patent
// The program-wide state block and the types every layer shares.
#pragma once

#include <stdint.h>

#include "image/identity_checks.h"
#include "runtime/efi.h"
#include "runtime/efi_acpi_sdt.h"

// A chip as the firmware names it. Raw values other than Main and Backup are
// passed on unfiltered, so the type holds any 8-bit value.
enum class ChipPosition : uint8_t { Main = 0, Backup = 1 };

enum class CommandKind : uint32_t { Help = 0, Change = 1, Save = 2, Position = 4, Compare = 128 };

// The run's outcome as the shell sees it. 129, 143 and 144 are never produced.
constexpr unsigned kPartInfoSize = 8;
constexpr unsigned kPartNameSize = 48;
constexpr unsigned kPartAreaSize = kPartInfoSize + kPartNameSize;

// What the flash mailbox reports for the chip that is active when it is asked.
struct FlashGeometry {
  uint32_t FlashSize;
  uint32_t BiosSize;
  uint32_t BlockSize;
  // PartInfo and PartName are one 56-byte "part area" as the mailbox hands it out.
  uint8_t PartInfo[kPartInfoSize];
  char PartName[kPartNameSize];
};
static_assert(sizeof(FlashGeometry::PartInfo) + sizeof(FlashGeometry::PartName) == kPartAreaSize);

// Fields are PascalCase, as in the firmware's own structures.
struct ToolState {
  ExitStatus ExitCode = ExitStatus::Success;
  CommandKind Command = CommandKind::Help;
  ChipPosition Selection = ChipPosition::Main;
  uint8_t FullRead = 1;                                        // 0 selects the simple test
  uint16_t Delay = 0;                                          // tenths of a second, at most 100
  ChipPosition StartupChip = static_cast<ChipPosition>(0xFF);  // 0xFF: not yet recorded
  ChipPosition LastReadChip = ChipPosition::Main;
  uint32_t FlashBaseAddress = 0;  // 2^32 - FlashSize, 32-bit wrap-around
  void* StartupRecord = nullptr;
  // The active chip's geometry from the start-up query, its part area
  // refreshed for each chip by the comparison: what the comparison test sizes
  // its buffers by and compares. The flash base address derives from it.
  FlashGeometry Geometry = {};
  // The sizes the utility's reads use (the comparison's and the save's),
  // filled from the mailbox on first use and kept for the run; the save fills
  // it by its own rule first. Not the start-up geometry: a read asks the chip
  // that is active when it runs.
  FlashGeometry ReaderGeometry = {};
  uint16_t SmiCommandPort = 0;  // 0: not yet resolved
  const EFI_ACPI_SDT_HEADER* FadtPointer = nullptr;
  uint8_t SmiCommandByte = 0x90;
  uint32_t MailboxSignature = 0;  // 0: no handshake yet
};

// The one instance for the run.
extern ToolState gTool;

// Puts every field back to its load value (for hosts that run the tool more
// than once in one process).
void ResetToolState();

inline void SetExitStatus(ExitStatus status) { gTool.ExitCode = status; }

inline uint8_t RawChip(ChipPosition chip) { return static_cast<uint8_t>(chip); }
