// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff's two input guards in isolation: the escaping every text
// from a dump passes through, and the command-line parser's numbers.
#include <gtest/gtest.h>

#include "diff/command_line.h"
#include "diff/report/escaped_text.h"

namespace {

using pdiff::EscapedText;

TEST(EscapedText, KeepsPrintableUtf8AndEscapesEverythingElse) {
  EXPECT_EQ(EscapedText("PX-100 Große \u20ac \U0001F600"), "PX-100 Große \u20ac \U0001F600");
  EXPECT_EQ(EscapedText(std::string("a\x1b[31m\x07\x7f\tb\0c", 12)), "a\\x1B[31m\\x07\\x7F\\x09b\\x00c");
  // Cut sequences, stray continuation bytes, overlong forms, surrogates,
  // code points past U+10FFFF and C1 controls are not text.
  EXPECT_EQ(EscapedText("\xc3"), "\\xC3");
  EXPECT_EQ(EscapedText("\xe2\x82"), "\\xE2\\x82");
  EXPECT_EQ(EscapedText("\x80\xbf"), "\\x80\\xBF");
  EXPECT_EQ(EscapedText("\xc0\xaf"), "\\xC0\\xAF");
  EXPECT_EQ(EscapedText("\xe0\x80\xaf"), "\\xE0\\x80\\xAF");
  EXPECT_EQ(EscapedText("\xed\xa0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(EscapedText("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  EXPECT_EQ(EscapedText("\xc2\x9b"), "\\xC2\\x9B");  // CSI, the one-byte escape sequence opener
  // Catches a name that reverses (U+202E) or breaks (U+2028) the report
  // line it is printed on: layout controls are escaped, their neighbours not.
  EXPECT_EQ(EscapedText("a\u202Eb"), "a\\xE2\\x80\\xAEb");
  EXPECT_EQ(EscapedText("a\u2028b\u2029"), "a\\xE2\\x80\\xA8b\\xE2\\x80\\xA9");
  EXPECT_EQ(EscapedText("\u2066\u200F\u2027\u2030"), "\\xE2\\x81\\xA6\\xE2\\x80\\x8F\u2027\u2030");
  // Catches two names told apart only by a character that shows as nothing
  // (zero-width space, word joiner, byte-order mark); U+200C/U+200D, which
  // join letters in some scripts, stay.
  EXPECT_EQ(EscapedText("Dxe\u200BCore\u2060\uFEFF"), "Dxe\\xE2\\x80\\x8BCore\\xE2\\x81\\xA0\\xEF\\xBB\\xBF");
  EXPECT_EQ(EscapedText("a\u200Cb\u200Dc\u2065"), "a\u200Cb\u200Dc\u2065");
}

std::optional<pdiff::Arguments> Parse(std::vector<const char*> words, std::string* problem) {
  words.insert(words.begin(), "pellrix-diff");
  return pdiff::ParseArguments(int(words.size()), words.data(), problem);
}

TEST(DiffArguments, NumbersAreWholeInRangeAndInEitherForm) {
  std::string problem;
  auto parsed = Parse({"--bios-size=0x800000", "--flash-size", "16777216", "--block-size=4096", "a", "b"}, &problem);
  ASSERT_TRUE(parsed) << problem;
  EXPECT_EQ(parsed->options.biosSize, 0x800000u);
  EXPECT_EQ(parsed->options.flashSize, 0x1000000u);
  EXPECT_EQ(parsed->options.blockSize, 4096u);
  EXPECT_EQ(parsed->files, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Parse({"--max-ranges=0", "a", "b"}, &problem)->maxRanges, 0u);
  EXPECT_EQ(Parse({"--flash-size=0x100000000", "a", "b"}, &problem)->options.flashSize, 1ull << 32);
  // Decimal even with leading zeros: never octal ("010" was 8, "09" refused).
  EXPECT_EQ(Parse({"--max-ranges=010", "a", "b"}, &problem)->maxRanges, 10u);
  EXPECT_EQ(Parse({"--max-ranges", "09", "a", "b"}, &problem)->maxRanges, 9u);
  EXPECT_EQ(Parse({"--block-size=0X1000", "a", "b"}, &problem)->options.blockSize, 0x1000u);
  EXPECT_EQ(Parse({"a", "b"}, &problem)->htmlBytes, 256u * 1024);
  EXPECT_EQ(Parse({"--html-bytes=0", "a", "b"}, &problem)->htmlBytes, 0u);
  EXPECT_EQ(Parse({"--html-bytes", "0x400", "a", "b"}, &problem)->htmlBytes, 0x400u);
  EXPECT_FALSE(Parse({"--html-bytes=1k", "a", "b"}, &problem));
  EXPECT_NE(problem.find("--html-bytes"), std::string::npos) << problem;

  for (std::vector<const char*> bad : {std::vector<const char*>{"--block-size=0x100000000", "a", "b"},
                                       {"--bios-size=0", "a", "b"},
                                       {"--bios-size=-1", "a", "b"},
                                       {"--bios-size=12k", "a", "b"},
                                       {"--bios-size=", "a", "b"},
                                       {"--bios-size=0x", "a", "b"},
                                       {"--bios-size=+4096", "a", "b"},
                                       {"--bios-size= 4096", "a", "b"},
                                       {"--bios-size=0x-10", "a", "b"},
                                       {"--bios-size=1e6", "a", "b"},
                                       {"--flash-size=0x100000001", "a", "b"},
                                       {"--max-ranges=99999999999999999999", "a", "b"},
                                       {"--html-bytes=0x100000001", "a", "b"},
                                       {"--html-bytes=-1", "a", "b"},
                                       {"--block-size"},
                                       {"a"},
                                       {"--info", "a", "b"},
                                       {"--no-mask=1", "a", "b"}}) {
    problem.clear();
    EXPECT_FALSE(Parse(bad, &problem)) << bad[0];
    EXPECT_FALSE(problem.empty());
  }
  // After "--" everything is a file, even what looks like an option.
  parsed = Parse({"--", "--json", "-"}, &problem);
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->json);
  EXPECT_EQ(parsed->files, (std::vector<std::string>{"--json", "-"}));
}

}  // namespace
