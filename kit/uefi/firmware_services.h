// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the kit asks of the firmware beyond files: the clock, the SMBIOS
// serial number, the Secure Boot state, the text screen's colours, a key press and the restart.
#pragma once

#include <stdint.h>

#include "kit/final_screen.h"

// "2026-12-07 22:15:03" into `out` (20 bytes); "" when the clock does not
// answer. Returns the clock's zone in minutes, kZoneLocal when the firmware
// does not say.
int16_t FirmwareDateText(char* out);

// The board's serial number from the firmware's SMBIOS table into `out`;
// "" when there is no table or no serial.
void SmbiosSerialText(char* out, unsigned capacity);

// True when the firmware reports Secure Boot on.
bool SecureBootIsOn();

void ClearTextScreen();

// Prints the screen line by line, each line in its tone's colour.
void ShowFinalScreen(const FinalScreen& screen);

// Waits for any key, then restarts the board; returns only if the firmware
// offers neither.
void WaitForKeyThenRestart();
