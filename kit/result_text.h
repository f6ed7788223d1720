// SPDX-License-Identifier: BSD-2-Clause-Patent
// RESULT.TXT, written by the kit and read on the workstation by the explain
// step and pellrix-fleet: its first line is the verdict and each step's
// status ("FAIL comparison=0x8E save-main=0x80 save-backup=0x80
// record=0x80", "none" for a step that did not run); each line after it is
// one key=value, the value running to the line's end, naming the board, the
// date, the kit and what the run folder holds.
#pragma once

#include "kit/outcome.h"
#include "kit/text_lines.h"

void ComposeResultText(const KitOutcome& outcome, const char* kitVersion, TextLines* text);

// Judges RESULT.TXT written aside before it is renamed: Kept when the write
// reached the file whole and what was read back is exactly `meant` (no byte
// changed, none missing, no older bytes after it); `readLength` may exceed
// `meant`'s length to show such leftovers.
ResultFileStep JudgeResultReadBack(bool writtenWhole, const TextLines& meant, const char* readBack,
                                   uint64_t readLength);

// Reading: spans into the caller's text, nothing copied or allocated.
struct ResultSpan {
  const char* Data = nullptr;
  uint32_t Length = 0;
};

struct ResultField {
  ResultSpan Key;
  ResultSpan Value;
};

// More fields than the kit writes are not kept: a hostile file stays small.
constexpr unsigned kMostResultFields = 32;
// The kit's file is short; a longer one is not its and is not read.
constexpr uint32_t kLongestResultText = 4096;

enum class ResultProblem : uint8_t { None, NotText, Empty, NoVerdict };

struct ResultReading {
  ResultSpan Verdict;
  ResultField Fields[kMostResultFields];
  unsigned FieldCount = 0;
  ResultProblem Problem = ResultProblem::None;
};

// Reads RESULT.TXT's text (CRLF or LF, blank lines and spaces tolerated):
// the first line's verdict and key=value words, then one key=value a line.
// NotText for control bytes other than tab, CR and LF.
void ReadResultText(const char* text, uint32_t length, ResultReading* reading);

// The field named `key`, or null.
const ResultField* FindResultField(const ResultReading& reading, const char* key);

// A step's status as the kit writes it ("0x8E"); false for anything else
// ("none", "0x", "0x1G", more than 8 digits).
bool ParseStepStatus(ResultSpan value, uint32_t* status);

// True when `span` holds exactly `text`.
bool SpanIs(ResultSpan span, const char* text);
