// SPDX-License-Identifier: BSD-2-Clause-Patent
// The record on disk: the folder PELLRIX.REC in the current directory with
// main.rom, backup.rom and board.json.
#pragma once

#include "record/board_record.h"
#include "record/text_buffer.h"

constexpr const char* kRecordFolder = "PELLRIX.REC";

// Writes the three files into the folder "PELLRIX.REC.NEW" first; only when
// all three are complete does the folder take the record's name, an earlier
// record stepping aside until its successor stands (as the save does with its
// file). On failure the new folder is removed and an earlier record stays
// whole. A volume without room for the record is refused before anything is
// created.
bool WriteRecordFiles(const BoardRecord& record, const TextBuffer& json);
