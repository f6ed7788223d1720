// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "runtime/format.h"

#include <stdint.h>

namespace {

void EmitDecimal(FormatSink sink, void* context, int value) {
  char digits[12];
  unsigned count = 0;
  // Work on the magnitude as unsigned so that INT_MIN prints correctly.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[sizeof digits - 1 - count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[sizeof digits - 1 - count++] = '-';
  sink(context, digits + sizeof digits - count, count);
}

void EmitHex(FormatSink sink, void* context, uint32_t value) {
  char digits[8];
  unsigned count = 0;
  do {
    digits[sizeof digits - 1 - count++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  sink(context, digits + sizeof digits - count, count);
}

}  // namespace

void FormatText(FormatSink sink, void* context, const char* format, va_list args) {
  const char* run = format;
  const char* cursor = format;
  while (*cursor != '\0') {
    if (*cursor != '%') {
      ++cursor;
      continue;
    }
    if (cursor != run) sink(context, run, static_cast<unsigned>(cursor - run));
    char conversion = cursor[1];
    switch (conversion) {
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text != nullptr) {
          unsigned length = 0;
          while (text[length] != '\0') ++length;
          if (length != 0) sink(context, text, length);
        }
        break;
      }
      case 'd': EmitDecimal(sink, context, va_arg(args, int)); break;
      case 'c': {
        char character = static_cast<char>(va_arg(args, int));
        sink(context, &character, 1);
        break;
      }
      case 'x': EmitHex(sink, context, va_arg(args, unsigned)); break;
      case '%': sink(context, "%", 1); break;
      case '\0':
        // A lone '%' at the end is printed as it stands.
        sink(context, "%", 1);
        return;
      default: sink(context, cursor, 2); break;
    }
    cursor += 2;
    run = cursor;
  }
  if (cursor != run) sink(context, run, static_cast<unsigned>(cursor - run));
}
