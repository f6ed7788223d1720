// SPDX-License-Identifier: BSD-2-Clause-Patent
// The kit's word on why the two saved chips differ, from their bytes alone
// (image/flash_causes.h): an erase that was never followed by its write, or
// scattered bit errors of a failing chip. Anything else is "other": the
// workstation's pellrix-diff tells a different build or changed settings,
// which the kit cannot without the firmware's tree.
#pragma once

#include "image/flash_causes.h"
#include "kit/outcome.h"
#include "kit/text_lines.h"

// Erased: whole 4 KiB blocks read erased on one chip alone where the other
// holds data, with at most one other block changed (the block the cut
// update was writing). Bit errors: every differing block holds scattered
// one- or two-bit flips and nothing else. Other: any other difference.
CauseFinding JudgeChipCauses(const FlashCauses& causes);

// "erased", "bit-errors" or "other": RESULT.TXT's cause= word.
const char* CauseWord(ChipCause cause);

// "Main", "Backup" or "both".
const char* CauseChipName(uint8_t chip);

// The final screen's line, without its line end: what the bytes show and
// what to do ("Why: Backup has 3 erased 4 KiB blocks: an update cut short;
// reflash Backup."); within 80 columns for parts of up to 256 MiB. Nothing
// for NotJudged and Other.
void AppendCauseSentence(const CauseFinding& cause, TextLines* text);
