// SPDX-License-Identifier: BSD-2-Clause-Patent
// FormatText, the engine behind Print, against the C library's snprintf for
// every conversion it supports, and its own rules where the two part ways.
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/format.h"

namespace {

void AppendTo(void* context, const char* text, unsigned length) {
  static_cast<std::string*>(context)->append(text, length);
}

std::string Formatted(const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  FormatText(AppendTo, &text, format, args);
  va_end(args);
  return text;
}

template <typename... Args>
std::string Snprintf(const char* format, Args... args) {
  char text[512];
  const int length = std::snprintf(text, sizeof text, format, args...);
  return std::string(text, size_t(length));
}

template <typename... Args>
void ExpectLikeSnprintf(const char* format, Args... args) {
  EXPECT_EQ(Formatted(format, args...), Snprintf(format, args...)) << "format \"" << format << "\"";
}

TEST(FormatReference, DecimalsIncludingTheExtremes) {
  for (int value : {0, 1, -1, 9, 10, -10, 99, 100, 12345, -12345, 1000000000, -1000000000, INT_MAX, INT_MIN,
                    INT_MAX - 1, INT_MIN + 1})
    ExpectLikeSnprintf("%d", value);
  ExpectLikeSnprintf("[%d|%d]", INT_MIN, INT_MAX);
}

TEST(FormatReference, HexIncludingTheExtremes) {
  for (unsigned value : {0u, 1u, 0xAu, 0xFu, 0x10u, 0xFFu, 0x100u, 0xDEADBEEFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu,
                         UINT_MAX, 0xFF000000u, 0x00010000u})
    ExpectLikeSnprintf("%x", value);
  ExpectLikeSnprintf("0x%x..0x%x", 0u, UINT_MAX);
}

TEST(FormatReference, TextCharactersAndPercent) {
  ExpectLikeSnprintf("%s", "");
  ExpectLikeSnprintf("%s", "Main BIOS Flash Part");
  ExpectLikeSnprintf("<%s><%s>", "a", "bc");
  for (int c : {int('A'), int(' '), int('\r'), int('\n'), 0x7F, int('z')}) ExpectLikeSnprintf("%c", c);
  ExpectLikeSnprintf("%%");
  ExpectLikeSnprintf("100%% done");
  ExpectLikeSnprintf("no conversions at all");
  ExpectLikeSnprintf("");
}

TEST(FormatReference, ConversionsMixedAsThePrintsUseThem) {
  ExpectLikeSnprintf("%c%s%d%% OK", 13, "BIOS Data Compare.............. ", 75);
  ExpectLikeSnprintf("%c%s0x%x\n", 13, "FAIL at address ", 0xFFFFE000u);
  ExpectLikeSnprintf("%s%d%s%x%c%%%s", "a", -7, "b", 0xABCu, 'c', "end");
}

TEST(FormatReference, OwnRulesWhereTheCLibraryDiffers) {
  // A null text prints nothing (the C library prints "(null)" or crashes).
  EXPECT_EQ(Formatted("[%s]", static_cast<const char*>(nullptr)), "[]");
  // Unsupported conversions are copied through and take no argument.
  EXPECT_EQ(Formatted("%u %lx %d", 5), "%u %lx 5");
  // A lone '%' at the end stands as written.
  EXPECT_EQ(Formatted("50%"), "50%");
}

}  // namespace
