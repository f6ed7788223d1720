// SPDX-License-Identifier: BSD-2-Clause-Patent
// The seven identity checks of the comparison test, in the board's order:
// the one table that the board's comparison and pellrix-diff both read, each
// with the exit status it stores (runtime/exit_status.h).
#pragma once

#include <stdint.h>

#include "image/bios_info.h"
#include "runtime/exit_status.h"

// The identity record field a check compares.
enum class IdentityField : uint8_t { FlashPart, FlashSize, BlockSize, BiosSize, ModelName, Version, PartNumber };

struct IdentityCheck {
  const char* Caption;  // as the board prints it
  IdentityField Field;
  unsigned TextWidth;  // characters compared of a text field; 0 for a 32-bit number
  ExitStatus Status;   // stored when the check fails
};

inline constexpr IdentityCheck kIdentityChecks[] = {
    {"Flash type check............... ", IdentityField::FlashPart, 48, ExitStatus::FlashTypeMismatch},
    {"Flash physical size check...... ", IdentityField::FlashSize, 0, ExitStatus::FlashSizeMismatch},
    {"Flash block size check......... ", IdentityField::BlockSize, 0, ExitStatus::BlockSizeMismatch},
    {"BIOS size check................ ", IdentityField::BiosSize, 0, ExitStatus::BiosSizeMismatch},
    {"BIOS model name check.......... ", IdentityField::ModelName, 32, ExitStatus::ModelNameMismatch},
    {"BIOS version check............. ", IdentityField::Version, 4, ExitStatus::VersionMismatch},
    {"BIOS part number check......... ", IdentityField::PartNumber, 8, ExitStatus::PartNumberMismatch},
};

// True when the two records agree in the check's field: numbers equal, texts
// equal in their first TextWidth characters or up to the same NUL.
bool IdentityFieldsAgree(const IdentityCheck& check, const BiosInfo& main, const BiosInfo& backup);
