// SPDX-License-Identifier: BSD-2-Clause-Patent
// The software SMI on the virtual board: the port write goes to the board
// model's SMI handler in vboard.efi instead of the processor's I/O space.
// Without the driver there is no handler, and the write changes nothing.
#include "firmware/cpu/port.h"
#include "firmware/cpu/vboard/board_protocol.h"

void TriggerSoftwareSmi(uint16_t port, uint8_t commandByte, void* buffer) {
  VboardProtocol* board = VirtualBoard();
  if (board != nullptr) board->TakeSmi(port, commandByte, buffer);
}
