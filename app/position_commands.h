// Reporting and changing the active chip.
#pragma once

#include "runtime/efi.h"

// Prints "<label> BIOS position: MAIN|BACKUP" and records the chip read.
void ShowBiosPosition(const char* label);

// Returns to the start-up chip; `verbose` prints the restore and position
// lines. kEfiUnsupported when no start-up chip was recorded.
EFI_STATUS RestoreBiosPosition(uint8_t verbose);

void RunPositionCommand();  // /p
void RunChangeCommand();    // /c
