// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's chip-select protocol, as its firmware installs it.
#pragma once

#include "runtime/efi.h"

// The board's chip-select protocol. Its first four entries are not used; the
// three members are called without the interface pointer.
struct ChipSelectProtocol {
  void* Reserved[4];
  BOOLEAN(EFIAPI* IsSupported)();
  uint8_t(EFIAPI* GetActiveChip)();
  void(EFIAPI* SetActiveChip)(uint8_t chip);
};

inline constexpr EFI_GUID kChipSelectProtocolGuid = {
    0x73212BFD, 0xFB9C, 0x492B, {0xBA, 0xD6, 0x01, 0x14, 0xB3, 0x9B, 0xAB, 0x35}};

static_assert(offsetof(ChipSelectProtocol, IsSupported) == 32);
static_assert(offsetof(ChipSelectProtocol, GetActiveChip) == 40);
static_assert(offsetof(ChipSelectProtocol, SetActiveChip) == 48);
