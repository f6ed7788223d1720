// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/text_lines.h"

#include <stdarg.h>

#include "runtime/format.h"

namespace {

void AppendPiece(void* context, const char* piece, unsigned length) {
  auto* text = static_cast<TextLines*>(context);
  for (unsigned i = 0; i < length; ++i) {
    // One byte stays free for the terminator.
    if (text->Length + 1 >= sizeof text->Data) {
      text->Overflowed = true;
      return;
    }
    text->Data[text->Length++] = piece[i];
  }
  text->Data[text->Length] = '\0';
}

}  // namespace

void AppendFormatted(TextLines* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatText(AppendPiece, text, format, args);
  va_end(args);
}

unsigned WidestLine(const TextLines& text) {
  unsigned widest = 0;
  unsigned width = 0;
  for (uint32_t i = 0; i < text.Length; ++i) {
    if (text.Data[i] == '\n') {
      width = 0;
      continue;
    }
    if (++width > widest) widest = width;
  }
  return widest;
}
