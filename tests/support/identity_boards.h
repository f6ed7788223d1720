// SPDX-License-Identifier: BSD-2-Clause-Patent
// Small boards whose chips carry a real firmware volume with a descriptor, so
// that whole runs can be checked byte for byte.
#pragma once

#include "sim/board.h"
#include "sim/image_builder.h"

namespace support {

struct IdentityChipSpec {
  uint32_t flash_size = 0x10000;
  uint32_t bios_size = 0x4000;  // four 4 KiB blocks
  uint32_t block_size = 4096;
  sim::DescriptorSpec descriptor = DefaultDescriptor();
  // Filler written into the region after the volume, to tell chips apart.
  uint32_t filler_seed = 7;

  static sim::DescriptorSpec DefaultDescriptor();
};

// A chip whose BIOS region starts with one 4 KiB volume holding the
// descriptor file; the rest of the region is filler bytes. With checksums
// enabled, the descriptor's single range covers the whole region and holds.
sim::Chip IdentityChip(const IdentityChipSpec& spec);

// Offset of the descriptor in an identity chip's part.
uint32_t IdentityDescriptorOffset(const IdentityChipSpec& spec);

// Two equal identity chips.
sim::Board IdentityBoard(const IdentityChipSpec& spec = {});

}  // namespace support
