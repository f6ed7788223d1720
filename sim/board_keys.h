// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board description's key groups, each parsed into the board on its own.
// A bad value throws board_json::KeyProblem naming its key.
#pragma once

#include <filesystem>

#include "sim/board.h"
#include "sim/board_json.h"

namespace sim::board_keys {

// active, chip_select, is_supported, switch, mailbox, acpi, smi_port: what
// the firmware answers.
void ParseFirmwareKeys(const board_json::json& root, Board* board);

// pci and mtrr: the host bridge probe's functions and the processor.
void ParseProcessorKeys(const board_json::json& root, Board* board);

// fail_alloc, fail_file, disk_free: the failures a run meets.
void ParseFailureKeys(const board_json::json& root, Board* board);

// chips: the two parts, their images (relative to `base`) and geometry.
void ParseChipKeys(const board_json::json& root, const std::filesystem::path& base, Board* board);

// A chip that is exactly this image file.
Chip ChipFromImageFile(const std::string& path, const std::string& key);

}  // namespace sim::board_keys
