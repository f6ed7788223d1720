// SPDX-License-Identifier: BSD-2-Clause-Patent
// The verdict in letters five lines high, drawn with '#', so that it reads
// from across a room and on a console without colour.
#pragma once

#include "kit/text_lines.h"

constexpr unsigned kBigLetterRows = 5;

// Appends the five rows of `word` (capitals of PASS, FAIL, UNSUPPORTED),
// each indented by `indent` spaces. Letters without a drawing show as blanks.
void AppendBigWord(TextLines* text, const char* word, unsigned indent);
