// SPDX-License-Identifier: BSD-2-Clause-Patent
// RESULT.TXT: its first line is the verdict and each step's status as the
// workstation's explain step reads them ("FAIL comparison=0x8E save-main=0x80
// save-backup=0x80 record=0x80", "none" for a step that did not run); the
// lines after it name the board, the date, the kit and what was kept.
#pragma once

#include "kit/outcome.h"
#include "kit/text_lines.h"

void ComposeResultText(const KitOutcome& outcome, const char* kitVersion, uint64_t partBytes, TextLines* text);

// Judges RESULT.TXT written aside before it is renamed: Kept when the write
// reached the file whole and what was read back is exactly `meant` (no byte
// changed, none missing, no older bytes after it); `readLength` may exceed
// `meant`'s length to show such leftovers.
ResultFileStep JudgeResultReadBack(bool writtenWhole, const TextLines& meant, const char* readBack,
                                   uint64_t readLength);
