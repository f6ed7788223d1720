// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_file.h"
#include "sim/image_builder.h"

namespace sim {

namespace {

Chip SampleChip(bool backup) {
  Chip chip;
  chip.image = BuildSampleChipImage(backup);
  chip.flash_size = static_cast<uint32_t>(chip.image.size());
  chip.bios_size = 8u << 20;
  chip.block_size = 4096;
  return chip;
}

}  // namespace

Board SampleBoard() {
  Board board;
  board.main = SampleChip(false);
  board.backup = SampleChip(true);
  return board;
}

}  // namespace sim
