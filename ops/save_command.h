// /s: save one chip's whole flash to MAIN.BIN or BACKUP.BIN.
#pragma once

// Switches to the selected chip, saves it, and restores the start-up chip.
void RunSaveCommand();

// Reads the active chip's whole flash, reports the descriptor checksums and
// writes the image to `fileName` in the current directory.
void SaveBiosImage(const char* fileName);
