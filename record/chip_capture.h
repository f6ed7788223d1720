// SPDX-License-Identifier: BSD-2-Clause-Patent
// Reading the chips: each whole part as the save reads it, switching to the
// other chip and back as the save does.
#pragma once

#include "record/board_record.h"

// Reads every chip the board lets the recorder make active into
// record->Chips and observes the switch on the way; a chip that cannot be
// made active is marked Unreachable and holds no image. The start-up chip is
// requested again on every road; *restored says whether it is active again.
// False when a chip could not be read.
bool CaptureChips(BoardRecord* record, bool* restored);

// Releases the chip images (without a chip select both share one).
void ReleaseChipImages(BoardRecord* record);
