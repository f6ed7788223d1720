// SPDX-License-Identifier: BSD-2-Clause-Patent
// A fixed buffer of text built with Print's conversions: RESULT.TXT and the
// final screen are composed here, then written or shown whole.
#pragma once

#include <stdint.h>

struct TextLines {
  char Data[4096];
  uint32_t Length = 0;
  bool Overflowed = false;
};

void AppendFormatted(TextLines* text, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The longest line's width in characters (a line ends at '\n').
unsigned WidestLine(const TextLines& text);
