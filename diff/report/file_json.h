// SPDX-License-Identifier: BSD-2-Clause-Patent
// The JSON shape of a file of the firmware tree, shared by the one-dump
// report and the comparison: what names it (GUID, name, type, path, index)
// and where it lies.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "diff/compare/comparison.h"
#include "fwtree/firmware_tree.h"

namespace pdiff {

// guid, name, type_name, path, index, compressed.
nlohmann::json FileNameJson(const fwtree::TreeFile& file);
// flash_offset (null inside decompressed bytes) and size; null without a file.
nlohmann::json FilePlaceJson(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeFile* file);
// FileNameJson and FilePlaceJson of a file together, as compact JSON text,
// formatted directly (the same text nlohmann would write): layouts list
// every file.
std::string FileEntryText(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeFile& file);
// The comparison's entry: the name, then change, main, backup and masked.
nlohmann::json FileChangeJson(const Geometry& geometry, const ChipDump& main, const ChipDump& backup,
                              const FileChange& change);

}  // namespace pdiff
