// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/identity_boards.h"

namespace support {

namespace {
constexpr uint32_t kVolumeLength = 0x1000;
}

sim::DescriptorSpec IdentityChipSpec::DefaultDescriptor() {
  sim::DescriptorSpec descriptor;
  descriptor.flash_size = 0x10000;
  descriptor.bios_size = 0x4000;
  descriptor.block_size = 4096;
  return descriptor;
}

uint32_t IdentityDescriptorOffset(const IdentityChipSpec& spec) {
  return spec.flash_size - spec.bios_size + sim::kVolumeHeaderLength + sim::kDescriptorInFile;
}

sim::Chip IdentityChip(const IdentityChipSpec& spec) {
  sim::DescriptorSpec descriptor = spec.descriptor;
  if (descriptor.checksum_enabled == 1 && descriptor.checksums.empty())
    descriptor.checksums.push_back({0u - spec.bios_size, spec.bios_size / 16, 16, 0});
  sim::VolumeSpec volume;
  volume.length = kVolumeLength;
  volume.files.push_back(sim::BuildDescriptorFile(descriptor));
  sim::Bytes region = sim::BuildBiosRegion(
      spec.bios_size, {{0, sim::BuildVolume(volume)},
                       {kVolumeLength, sim::PseudoRandomBytes(spec.bios_size - kVolumeLength, spec.filler_seed)}});
  sim::Chip chip;
  chip.image = sim::BuildFlashPart(spec.flash_size, region);
  if (descriptor.checksum_enabled == 1) sim::ComputeDescriptorChecksums(chip.image, IdentityDescriptorOffset(spec));
  chip.flash_size = spec.flash_size;
  chip.bios_size = spec.bios_size;
  chip.block_size = spec.block_size;
  return chip;
}

sim::Board IdentityBoard(const IdentityChipSpec& spec) {
  sim::Board board;
  board.main = IdentityChip(spec);
  board.backup = board.main;
  return board;
}

}  // namespace support
