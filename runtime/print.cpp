// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "runtime/print.h"

#include "runtime/format.h"

namespace {

ConsoleCopy gConsoleCopy = nullptr;

void SendToConsole(void*, const char* text, unsigned length) {
  WriteConsoleText(text, length);
  if (gConsoleCopy != nullptr) gConsoleCopy(text, length);
}

}  // namespace

void SetConsoleCopy(ConsoleCopy copy) { gConsoleCopy = copy; }

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatText(SendToConsole, nullptr, format, args);
  va_end(args);
  // A null-length write marks the end of one Print call: the console layer
  // flushes there, so console output keeps its order with OutputString.
  WriteConsoleText("", 0);
}
