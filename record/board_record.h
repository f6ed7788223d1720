// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the recorder learns about a board: every answer the utility ever asks
// the firmware for, in the shape of a board description.
#pragma once

#include <stdint.h>

#include "firmware/tool_state.h"
#include "record/board_vocabulary.h"

// One PCI I/O handle. A read that fails is kept as such: the utility's probe
// skips that handle in the same way on the replayed board.
struct PciRecord {
  uint16_t Vendor;
  uint8_t BaseClass;
  uint8_t Subclass;
  bool HandleProtocolFails;
  bool ClassReadFails;
  bool VendorReadFails;
};

constexpr unsigned kMostMtrrPairs = 255;  // MTRRcap's count is 8 bits

struct MtrrRecord {
  uint32_t VariablePairs;
  uint32_t PhysAddressBits;
  uint32_t TmeKeyIdBits;
  uint64_t Base[kMostMtrrPairs];
  uint64_t Mask[kMostMtrrPairs];
};

// One chip's whole part as the save reads it, with the mailbox's answers
// while it was active.
struct ChipRecord {
  uint8_t* Image;  // FlashSize bytes (pool), null until read
  uint32_t FlashSize;
  uint32_t BiosSize;
  uint32_t BlockSize;
  bool HasPartName;  // false when no mailbox answered
  char PartName[kPartNameSize + 1];
  // The switch to this chip did not take effect, so it was never read: no
  // image, and the sizes are the other chip's, which keep a replay whole.
  bool Unreachable;
};

struct BoardRecord {
  uint8_t Active;  // raw start-up position
  ChipSelectMode ChipSelect;
  // The switch as observed; not tested when the chips were never switched
  // (one chip).
  bool SwitchTested;
  SwitchMode Switch;
  MailboxMode Mailbox;
  AcpiMode Acpi;
  uint16_t SmiPort;
  uint32_t PciCount;
  PciRecord* Pci;  // PciCount entries (pool), null when none
  MtrrRecord Mtrr;
  // Main and Backup. Without a chip select the one readable chip stands for
  // both; a chip the switch could not reach is Unreachable.
  ChipRecord Chips[2];
};
