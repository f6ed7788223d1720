// The record on disk: the folder PELLRIX.REC in the current directory with
// main.rom, backup.rom and board.json.
#pragma once

#include "record/board_record.h"
#include "record/text_buffer.h"

constexpr const char* kRecordFolder = "PELLRIX.REC";

// Writes the three files as the save writes its image: each to "<name>.NEW"
// first, and only when all three are complete do they take their names, one
// by one, an earlier file stepping aside until its successor stands. On
// failure every new file is removed, an earlier record stays as it was, and a
// folder this call created is removed again.
bool WriteRecordFiles(const BoardRecord& record, const TextBuffer& json);
