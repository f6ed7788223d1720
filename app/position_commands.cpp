// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "app/position_commands.h"

#include "firmware/chip_position.h"
#include "firmware/tool_state.h"
#include "firmware/cache_control.h"
#include "firmware/chip_select.h"
#include "runtime/print.h"

void RunPositionCommand() {
  ShowBiosPosition("Current");
  if (gTool.LastReadChip == ChipPosition::Main)
    SetExitStatus(ExitStatus::OnMain);
  else if (gTool.LastReadChip == ChipPosition::Backup)
    SetExitStatus(ExitStatus::OnBackup);
}

void RunChangeCommand() {
  ShowBiosPosition("Original");
  if (SetChipPosition(gTool.Selection) != kEfiSuccess) {
    SetExitStatus(ExitStatus::SwitchFailed);
    Print("Fail to Switch BIOS!\n");
    return;
  }
  ApplyFlashWindowCacheOverride();
  Print("Switch BIOS from [ ");
  if (gTool.StartupChip == ChipPosition::Main)
    Print("MAIN ]");
  else if (gTool.StartupChip == ChipPosition::Backup)
    Print("BACKUP ]");
  if (gTool.Selection == ChipPosition::Main) {
    Print(" to [ MAIN ] successfully !\n");
    SetExitStatus(ExitStatus::OnMain);
  } else {
    Print(" to [ BACKUP ] successfully !\n");
    SetExitStatus(ExitStatus::OnBackup);
  }
}
