// SPDX-License-Identifier: BSD-2-Clause-Patent
// The command-line grammar: every accepted form and the rejections around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "firmware/tool_state.h"

namespace {

struct Parsed {
  bool accepted;
  ToolState state;
};

Parsed Parse(std::vector<std::string> arguments) {
  ResetToolState();
  arguments.insert(arguments.begin(), "pellrix");
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  EFI_STATUS status = ParseCommandLine(static_cast<int>(arguments.size()), argv.data());
  EXPECT_TRUE(status == kEfiSuccess || status == kEfiUnsupported);
  return {status == kEfiSuccess, gTool};
}

TEST(CommandLine, NoArgumentsIsTheFullComparison) {
  Parsed parsed = Parse({});
  ASSERT_TRUE(parsed.accepted);
  EXPECT_EQ(parsed.state.Command, CommandKind::Compare);
  EXPECT_EQ(parsed.state.FullRead, 1);
  EXPECT_EQ(parsed.state.Delay, 0);
}

TEST(CommandLine, SimpleTestInBothCases) {
  for (const char* option : {"/i", "/I"}) {
    Parsed parsed = Parse({option});
    ASSERT_TRUE(parsed.accepted) << option;
    EXPECT_EQ(parsed.state.Command, CommandKind::Compare);
    EXPECT_EQ(parsed.state.FullRead, 0);
  }
  EXPECT_FALSE(Parse({"/ix"}).accepted);
  EXPECT_FALSE(Parse({"/i "}).accepted);
  EXPECT_FALSE(Parse({"/i", "1"}).accepted);
  EXPECT_FALSE(Parse({"/i", ""}).accepted);
}

TEST(CommandLine, DelayAloneAndWithTimer) {
  for (const char* option : {"/delay", "/DELAY", "/Delay"}) {
    Parsed alone = Parse({option});
    ASSERT_TRUE(alone.accepted) << option;
    EXPECT_EQ(alone.state.Command, CommandKind::Compare);
    EXPECT_EQ(alone.state.Delay, 0);
    EXPECT_EQ(alone.state.FullRead, 1);
  }
  struct Case {
    const char* timer;
    int delay;
  };
  for (Case c : {Case{"0", 0}, Case{"100", 100}, Case{"007", 7}, Case{"000", 0}, Case{"25", 25}, Case{"", 0},
                 Case{"99", 99}, Case{"5", 5}}) {
    Parsed parsed = Parse({"/delay", c.timer});
    ASSERT_TRUE(parsed.accepted) << c.timer;
    EXPECT_EQ(parsed.state.Command, CommandKind::Compare);
    EXPECT_EQ(parsed.state.Delay, c.delay) << c.timer;
  }
  EXPECT_EQ(Parse({"/DELAY", "25"}).state.Delay, 25);
  EXPECT_EQ(Parse({"/Delay", "100"}).state.Delay, 100);
}

TEST(CommandLine, TimersOutsideTheRulesAreRejected) {
  for (const char* timer : {"101", "0100", "1a", "-5", "+5", "5 ", " 5", "0x5", "999", "200", "1000", "a"}) {
    for (const char* option : {"/delay", "/DELAY", "/Delay"})
      EXPECT_FALSE(Parse({option, timer}).accepted) << option << " '" << timer << "'";
  }
  EXPECT_FALSE(Parse({"/delay", "5", "5"}).accepted);
  EXPECT_FALSE(Parse({"/delay5"}).accepted);
  EXPECT_FALSE(Parse({"/DeLaY"}).accepted);
  EXPECT_FALSE(Parse({"/D"}).accepted);
}

TEST(CommandLine, ChangeAndSaveTakeOneOrTwo) {
  struct Case {
    const char* option;
    const char* chip;
    CommandKind kind;
    ChipPosition selection;
  };
  for (Case c : {Case{"/c", "1", CommandKind::Change, ChipPosition::Main},
                 Case{"/C", "2", CommandKind::Change, ChipPosition::Backup},
                 Case{"/s", "2", CommandKind::Save, ChipPosition::Backup},
                 Case{"/S", "1", CommandKind::Save, ChipPosition::Main}}) {
    Parsed parsed = Parse({c.option, c.chip});
    ASSERT_TRUE(parsed.accepted) << c.option << " " << c.chip;
    EXPECT_EQ(parsed.state.Command, c.kind);
    EXPECT_EQ(parsed.state.Selection, c.selection);
  }
  for (const char* option : {"/c", "/C", "/s", "/S"}) {
    for (const char* chip : {"3", "0", "01", "1x", "", "2 "}) EXPECT_FALSE(Parse({option, chip}).accepted) << chip;
    EXPECT_FALSE(Parse({option}).accepted);
    EXPECT_FALSE(Parse({option, "1", "2"}).accepted);
  }
}

TEST(CommandLine, HelpAndPosition) {
  for (const char* option : {"/?", "/h", "/H"}) {
    Parsed parsed = Parse({option});
    ASSERT_TRUE(parsed.accepted) << option;
    EXPECT_EQ(parsed.state.Command, CommandKind::Help);
  }
  for (const char* option : {"/p", "/P"}) {
    Parsed parsed = Parse({option});
    ASSERT_TRUE(parsed.accepted) << option;
    EXPECT_EQ(parsed.state.Command, CommandKind::Position);
  }
  EXPECT_FALSE(Parse({"/p", "1"}).accepted);
  EXPECT_FALSE(Parse({"/?", "1"}).accepted);
}

TEST(CommandLine, UnknownOptionsAndCombinationsAreRejected) {
  for (const char* option : {"/HELP", "-h", "/x", "", "i", "/", "/ i", "/pp", "/Save"})
    EXPECT_FALSE(Parse({option}).accepted) << "'" << option << "'";
  EXPECT_FALSE(Parse({"/i", "/delay"}).accepted);
  EXPECT_FALSE(Parse({"/delay", "/i"}).accepted);
  EXPECT_FALSE(Parse({"/delay", "10", "/i"}).accepted);
  EXPECT_FALSE(Parse({"/p", "/c", "1"}).accepted);
}

}  // namespace
