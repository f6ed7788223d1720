// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/text_buffer.h"

#include "firmware/pool.h"

namespace {

void AppendBytes(TextBuffer* text, const char* bytes, uint32_t count) {
  if (text->Capacity - text->Length < count) {
    text->Overflow = true;
    return;
  }
  for (uint32_t i = 0; i < count; ++i) text->Data[text->Length++] = bytes[i];
}

void AppendDigits(TextBuffer* text, uint64_t value, unsigned base) {
  char digits[20];
  unsigned count = 0;
  do {
    digits[sizeof digits - 1 - count++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value != 0);
  AppendBytes(text, digits + sizeof digits - count, count);
}

}  // namespace

bool AllocateTextBuffer(TextBuffer* text, uint32_t capacity) {
  *text = {};
  text->Data = static_cast<char*>(AllocateZeroed(capacity));
  text->Capacity = text->Data != nullptr ? capacity : 0;
  return text->Data != nullptr;
}

void ReleaseTextBuffer(TextBuffer* text) {
  ReleasePool(text->Data);
  *text = {};
}

void AppendText(TextBuffer* text, const char* piece) {
  uint32_t length = 0;
  while (piece[length] != '\0') ++length;
  AppendBytes(text, piece, length);
}

void AppendDecimal(TextBuffer* text, uint64_t value) { AppendDigits(text, value, 10); }

void AppendHex(TextBuffer* text, uint64_t value) {
  AppendText(text, "0x");
  AppendDigits(text, value, 16);
}
