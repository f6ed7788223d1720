// Formatted console output with the conversions %s, %d, %c, %x and %%.
// "\n" is a line feed; the console layer turns it into what the console needs.
#pragma once

#include <stdarg.h>

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends one finished piece of text to the console. Each build supplies it.
void WriteConsoleText(const char* text, unsigned length);
