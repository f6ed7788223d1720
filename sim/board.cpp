#include "sim/board.h"

namespace sim {

Chip ErasedChip(uint32_t size, uint32_t bios_size, uint32_t block_size) {
  Chip chip;
  chip.image.assign(size, 0xFF);
  chip.flash_size = size;
  chip.bios_size = bios_size;
  chip.block_size = block_size;
  return chip;
}

}  // namespace sim
