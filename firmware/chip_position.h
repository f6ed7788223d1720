// SPDX-License-Identifier: BSD-2-Clause-Patent
// Showing the active chip and returning to the start-up chip: the chip-select
// operations that the commands share.
#pragma once

#include "firmware/tool_state.h"
#include "runtime/efi.h"

// Prints "<label> BIOS position: MAIN|BACKUP" and records the chip read.
void ShowBiosPosition(const char* label);

// Returns to the start-up chip; `verbose` prints the restore and position
// lines. kEfiUnsupported when no start-up chip was recorded, kEfiDeviceError
// when the switch back did not take effect (the board stays on the other chip).
EFI_STATUS RestoreBiosPosition(bool verbose);

// After a command's last restore: when it left the board off the start-up
// chip, prints the switch-failure line naming that chip and makes the run a
// switch failure (132) unless it already ends with a failure status.
void ReportFailedRestore(EFI_STATUS restore);

// What a switch to `chip` prints: "Switch to Main BIOS ............. Ok\n"
// when it succeeded, "!! Unable to switch to Main BIOS !!\n" when it failed
// (Backup alike).
const char* SwitchedLine(ChipPosition chip);
const char* SwitchFailedLine(ChipPosition chip);
