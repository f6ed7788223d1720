// SPDX-License-Identifier: BSD-2-Clause-Patent
// The virtual board's private protocol: how pellrix-vboard.efi reaches the
// board's SMI handler and flash window, which OVMF does not have. Installed by
// vboard.efi beside the chip-select protocol. Like the chip-select protocol,
// its members are called without the interface pointer.
#pragma once

#include <stdint.h>

#include "runtime/efi.h"

struct VboardProtocol {
  uint32_t Revision;
  uint32_t Reserved;
  // A write of `commandByte` to I/O port `port` with the mailbox at `buffer`.
  void(EFIAPI* TakeSmi)(uint16_t port, uint8_t commandByte, void* buffer);
  // The window as the processor sees it: `count` bytes from `address`.
  void(EFIAPI* ReadWindow)(uint32_t address, void* destination, uint32_t count);
  // Raw position of the chip that answers now.
  uint8_t(EFIAPI* ActiveChip)();
};

inline constexpr uint32_t kVboardProtocolRevision = 1;
inline constexpr EFI_GUID kVboardProtocolGuid = {
    0x5B1E3C7A, 0x9D42, 0x4F8E, {0xA1, 0x6C, 0x2E, 0x90, 0x4B, 0x7D, 0x13, 0xF5}};

static_assert(offsetof(VboardProtocol, TakeSmi) == 8);
static_assert(offsetof(VboardProtocol, ReadWindow) == 16);
static_assert(offsetof(VboardProtocol, ActiveChip) == 24);
