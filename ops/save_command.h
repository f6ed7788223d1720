// SPDX-License-Identifier: BSD-2-Clause-Patent
// /s: save one chip's whole flash to MAIN.BIN or BACKUP.BIN.
#pragma once

// Switches to the selected chip, saves it, and restores the start-up chip.
void RunSaveCommand();

// Reads the active chip's whole flash, reports the descriptor checksums and
// writes the image to `fileName` in the current directory, through a
// temporary file that replaces it only when complete. Returns true when the
// file holds the image; on false an earlier file of that name is unchanged
// and the failure line has been printed.
bool SaveBiosImage(const char* fileName);
