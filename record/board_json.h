// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board description that pellrix-sim replays: board.json beside the
// chip images main.rom and backup.rom.
#pragma once

#include "record/board_record.h"
#include "record/text_buffer.h"

// Bytes that always suffice for the description of `record`.
uint32_t BoardJsonCapacity(const BoardRecord& record);

// Writes the description. Keys the recorder could not observe are left out,
// so the replay takes their defaults (the utility never reaches them).
void WriteBoardJson(const BoardRecord& record, TextBuffer* json);
