// SPDX-License-Identifier: BSD-2-Clause-Patent
// Formatted console output with the conversions %s, %d, %c, %x and %%.
// "\n" is a line feed; the console layer turns it into what the console needs.
#pragma once

#include <stdarg.h>
#include <stdint.h>

// Starts a progress line over again: each step rewrites the line it is on.
constexpr char kCarriageReturn = 13;

// A progress line's percentage: `done` of `total` units, rounded down, in
// 64-bit arithmetic (done may pass total on a last, partial block).
inline int ProgressPercent(uint64_t done, uint64_t total) { return static_cast<int>(done * 100 / total); }

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Sends one finished piece of text to the console. Each build supplies it.
void WriteConsoleText(const char* text, unsigned length);

// A second receiver of everything Print sends to the console (a boot
// application's log); null for none.
using ConsoleCopy = void (*)(const char* text, unsigned length);
void SetConsoleCopy(ConsoleCopy copy);
