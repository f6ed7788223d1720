// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "app/command_line.h"

#include "firmware/tool_state.h"

namespace {

// Whole-argument, case-sensitive match; stops at the first differing byte so
// nothing past the argument's own terminator is read.
bool Matches(const char* argument, const char* expected) {
  for (unsigned i = 0;; ++i) {
    if (argument[i] != expected[i]) return false;
    if (expected[i] == '\0') return true;
  }
}

bool MatchesAny(const char* argument, const char* const* options) {
  for (; *options != nullptr; ++options)
    if (Matches(argument, *options)) return true;
  return false;
}

const char* const kSimpleTestOptions[] = {"/i", "/I", nullptr};
const char* const kDelayOptions[] = {"/delay", "/DELAY", "/Delay", nullptr};
const char* const kHelpOptions[] = {"/?", "/h", "/H", nullptr};
const char* const kPositionOptions[] = {"/p", "/P", nullptr};
const char* const kChangeOptions[] = {"/c", "/C", nullptr};
const char* const kSaveOptions[] = {"/s", "/S", nullptr};

// At most three decimal digits with a value of at most 100; empty means 0.
bool ParseTimer(const char* text, uint16_t* delay) {
  unsigned value = 0;
  for (unsigned position = 0;; ++position) {
    char character = text[position];
    if (character == '\0') break;
    if (position == 3) return false;
    if (character < '0' || character > '9') return false;
    value = value * 10 + static_cast<unsigned>(character - '0');
    if (value > 100) return false;
  }
  *delay = static_cast<uint16_t>(value);
  return true;
}

bool ParseChipNumber(const char* text, ChipPosition* chip) {
  if (Matches(text, "1")) {
    *chip = ChipPosition::Main;
    return true;
  }
  if (Matches(text, "2")) {
    *chip = ChipPosition::Backup;
    return true;
  }
  return false;
}

}  // namespace

EFI_STATUS ParseCommandLine(int argc, char** argv) {
  int arguments = argc - 1;
  if (arguments <= 0) {
    gTool.Command = CommandKind::Compare;
    return kEfiSuccess;
  }
  const char* option = argv[1];
  if (arguments == 1) {
    if (MatchesAny(option, kSimpleTestOptions)) {
      gTool.Command = CommandKind::Compare;
      gTool.FullRead = 0;
      return kEfiSuccess;
    }
    if (MatchesAny(option, kDelayOptions)) {
      gTool.Command = CommandKind::Compare;
      gTool.Delay = 0;
      return kEfiSuccess;
    }
    if (MatchesAny(option, kHelpOptions)) {
      gTool.Command = CommandKind::Help;
      return kEfiSuccess;
    }
    if (MatchesAny(option, kPositionOptions)) {
      gTool.Command = CommandKind::Position;
      return kEfiSuccess;
    }
    return kEfiUnsupported;
  }
  if (arguments != 2) return kEfiUnsupported;

  const char* value = argv[2];
  if (MatchesAny(option, kDelayOptions)) {
    uint16_t delay = 0;
    if (!ParseTimer(value, &delay)) return kEfiUnsupported;
    gTool.Command = CommandKind::Compare;
    gTool.Delay = delay;
    return kEfiSuccess;
  }
  bool change = MatchesAny(option, kChangeOptions);
  if (change || MatchesAny(option, kSaveOptions)) {
    ChipPosition chip = ChipPosition::Main;
    if (!ParseChipNumber(value, &chip)) return kEfiUnsupported;
    gTool.Command = change ? CommandKind::Change : CommandKind::Save;
    gTool.Selection = chip;
    return kEfiSuccess;
  }
  return kEfiUnsupported;
}
