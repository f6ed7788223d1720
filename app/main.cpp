// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "app/main.h"

#include "app/command_line.h"
#include "app/position_commands.h"
#include "firmware/tool_state.h"
#include "app/usage.h"
#include "firmware/chip_select.h"
#include "firmware/pool.h"
#include "ops/compare_command.h"
#include "ops/save_command.h"
#include "runtime/efi_globals.h"
#include "runtime/print.h"

namespace {

void SetCursorVisible(bool visible) {
  // Serial consoles answer "unsupported"; the cursor is cosmetic, so the
  // result is ignored.
  gST->ConOut->EnableCursor(gST->ConOut, visible ? 1 : 0);
}

void Dispatch() {
  switch (gTool.Command) {
    case CommandKind::Help: PrintUsage(); break;
    case CommandKind::Change: RunChangeCommand(); break;
    case CommandKind::Save: RunSaveCommand(); break;
    case CommandKind::Position: RunPositionCommand(); break;
    case CommandKind::Compare: RunComparisonTest(); break;
  }
}

void RunCommandLine(int argc, char** argv) {
  if (EfiError(ParseCommandLine(argc, argv))) {
    SetExitStatus(ExitStatus::InvalidCommand);
    Print("Invalid command!\n\n");
    PrintUsage();
    return;
  }
  if (EfiError(InitFirmwareAccess())) {
    Print("\n%s\n\n", "!!! SPI Flash initialization fail !!!");
    return;
  }
  ChipPosition startup = GetChipPosition();
  SetExitStatus(ExitStatus::Success);
  gTool.StartupChip = startup;
  gTool.LastReadChip = startup;
  gTool.FlashBaseAddress = 0u - gTool.Geometry.FlashSize;
  Dispatch();
}

}  // namespace

int pellrix::main(int argc, char** argv) {
  // A long save on a slow console outlasts the firmware's watchdog, and not
  // every shell turns it off.
  gBS->SetWatchdogTimer(0, 0, 0, nullptr);
  SetCursorVisible(false);
  PrintBanner();
  RunCommandLine(argc, argv);
  // The exit path: taken on every road.
  if (gTool.StartupRecord != nullptr) {
    ReleasePool(gTool.StartupRecord);
    gTool.StartupRecord = nullptr;
  }
  SetCursorVisible(true);
  return static_cast<int>(gTool.ExitCode);
}
