// SPDX-License-Identifier: BSD-2-Clause-Patent
// Where things lie in a dump, as JSON: its Intel flash descriptor's regions,
// and the volumes and files of its firmware tree. Shared by the one-dump
// report and the comparison's, whose page draws both chips from it.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>

#include "diff/compare/comparison.h"

namespace pdiff {

// `regions` (index, name, flash_offset, length), or null without a descriptor.
nlohmann::json FlashDescriptorJson(const ChipDump& dump);
// path, file_system, name, ffs_version, flash_offset (null inside
// decompressed bytes), length, compressed.
nlohmann::json TreeVolumeJson(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeVolume& volume);
// flash_descriptor, and the volumes and files that have a flash offset:
// what a map of the chip can show. Written as it goes: a dump may hold
// hundreds of thousands of files.
void WriteLayoutJson(std::ostream& out, const Geometry& geometry, const ChipDump& dump);

}  // namespace pdiff
