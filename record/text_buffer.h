// SPDX-License-Identifier: BSD-2-Clause-Patent
// A fixed-capacity text buffer from the pool, for the board description.
#pragma once

#include <stdint.h>

struct TextBuffer {
  char* Data;
  uint32_t Length;
  uint32_t Capacity;
  bool Overflow;  // something did not fit: the text is incomplete
};

// False when the pool refuses.
bool AllocateTextBuffer(TextBuffer* text, uint32_t capacity);
void ReleaseTextBuffer(TextBuffer* text);

void AppendText(TextBuffer* text, const char* piece);
void AppendDecimal(TextBuffer* text, uint64_t value);
// "0x" and upper-case hexadecimal digits.
void AppendHex(TextBuffer* text, uint64_t value);
