// SPDX-License-Identifier: BSD-2-Clause-Patent
// Board description files (JSON) and the built-in sample board.
#pragma once

#include <string>

#include "sim/board.h"

namespace sim {

// A problem with a board description, named by file and key.
struct BoardError {
  std::string message;
};

// The built-in sample board: two 16 MiB chips, 8 MiB BIOS region, 4 KiB blocks.
Board SampleBoard();

// Reads a board description; on failure returns false and fills `error`.
bool LoadBoardFile(const std::string& path, Board* board, BoardError* error);

// A board with these two chip images and every other key at its default.
// Either path may be empty to keep the sample chip.
bool LoadImageBoard(const std::string& mainPath, const std::string& backupPath, Board* board, BoardError* error);

// Writes board.json, main.rom and backup.rom of the sample board into `directory`.
bool WriteSampleBoard(const std::string& directory, BoardError* error);

}  // namespace sim
