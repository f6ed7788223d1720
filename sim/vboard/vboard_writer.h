// SPDX-License-Identifier: BSD-2-Clause-Patent
// Host side of VBOARD.BIN: writes a board as the compact file plus its two
// chip images, for the virtual-board driver. Used by pellrix-sim's
// --write-vboard option.
#pragma once

#include <string>

#include "sim/board.h"
#include "sim/vboard/vboard_file.h"

namespace vboard {

// The header as the driver reads it; chip select and the model's modes are
// taken the way the simulated machine takes them.
BoardFile BoardFileOf(const sim::Board& board);

// DIR/VBOARD.BIN, DIR/MAIN.ROM and DIR/BACK.ROM; false with `problem` set
// when a file cannot be written. Keys the driver cannot reproduce, because
// the real firmware decides them, are named on standard error.
bool WriteVboard(const sim::Board& board, const std::string& directory, std::string* problem);

}  // namespace vboard
