// SPDX-License-Identifier: BSD-2-Clause-Patent
// The formatting engine behind Print, shared by both builds.
#pragma once

#include <stdarg.h>

// Receives the formatted text in pieces; `length` bytes at `text`.
using FormatSink = void (*)(void* context, const char* text, unsigned length);

// Formats `format` with the conversions %s, %d, %c, %x and %%. Any other
// conversion is copied through as written. A null %s argument prints nothing.
void FormatText(FormatSink sink, void* context, const char* format, va_list args);
