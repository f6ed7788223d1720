// SPDX-License-Identifier: BSD-2-Clause-Patent
// The flash window on the virtual board: reads go to the board model in
// vboard.efi. Without the driver nothing answers in the window and every byte
// reads as all ones.
#include "firmware/cpu/flash_window.h"
#include "firmware/cpu/vboard/board_protocol.h"

namespace {}  // namespace

void ReadFlashWindow(uint32_t address, void* destination, uint32_t count) {
  VboardProtocol* board = VirtualBoard();
  if (board != nullptr) {
    board->ReadWindow(address, destination, count);
    return;
  }
  uint64_t end = static_cast<uint64_t>(address) + count;
  if (end > kFourGiB) end = kFourGiB;
  __builtin_memset(destination, 0xFF, end - address);
}

uint32_t ReadFlashWindow32(uint32_t address) {
  uint32_t value = 0;
  ReadFlashWindow(address, &value, sizeof value);
  return value;
}
