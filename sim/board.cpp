// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board.h"

#include <sys/mman.h>

namespace sim {

MappedImage::~MappedImage() {
  if (bytes != nullptr && size != 0) munmap(const_cast<uint8_t*>(bytes), size);
}

Chip ErasedChip(uint32_t size, uint32_t bios_size, uint32_t block_size) {
  Chip chip;
  chip.flash_size = size;
  chip.bios_size = bios_size;
  chip.block_size = block_size;
  return chip;
}

}  // namespace sim
