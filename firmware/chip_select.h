// SPDX-License-Identifier: BSD-2-Clause-Patent
// Client of the board's chip-select protocol, and firmware start-up.
#pragma once

#include "firmware/tool_state.h"

// Locates the protocol, checks support, allocates the start-up record and runs
// the first mailbox query. Prints its own failure message and stores the exit
// status; returns 0 or kEfiUnsupported.
EFI_STATUS InitFirmwareAccess();

// The active chip; Main when the protocol cannot be located.
ChipPosition GetChipPosition();

// Requests `chip` and reads the active chip back: 0 when it matches,
// kEfiUnsupported otherwise (also when the protocol cannot be located).
EFI_STATUS SetChipPosition(ChipPosition chip);
