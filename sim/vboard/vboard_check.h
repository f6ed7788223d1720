// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the virtual-board driver refuses before it trusts VBOARD.BIN or a
// mailbox request. The driver runs inside the real firmware, where a wrong
// size or a wild pointer brings the machine down rather than one process, so
// every value the file or a request brings is checked here first. Plain code
// with no library underneath: it builds into the driver and on the host.
#pragma once

#include <stdint.h>

#include "sim/board_model.h"
#include "sim/vboard/vboard_file.h"

namespace vboard {

// Why the driver must not use `file`; null when it may. Refused: another
// magic, version or header size, modes the board model does not have, an
// image file name that is empty or not terminated, and an image that holds
// some but not all of the part the mailbox reports (an image of no bytes is
// an erased part).
const char* BoardFileProblem(const BoardFile& file);

// Whether a mailbox read may copy `count` bytes to `address`: not into the
// first page, not past 4 GiB and not over the chip images the board itself
// holds.
bool MailboxDestinationAllowed(const sim::BoardModel& board, uint64_t address, uint32_t count);

// The board model's modes from a checked file: active chip, support answer,
// switch and mailbox behaviour, SMI port. The chips are loaded apart.
void SetModesFromBoardFile(const BoardFile& file, sim::BoardModel* board);

}  // namespace vboard
