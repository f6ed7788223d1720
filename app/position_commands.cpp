#include "app/position_commands.h"

#include "firmware/tool_state.h"
#include "firmware/cache_control.h"
#include "firmware/chip_select.h"
#include "runtime/print.h"

namespace {

const char* ChipLabel(ChipPosition chip) { return chip == ChipPosition::Main ? "MAIN" : "BACKUP"; }

}  // namespace

void ShowBiosPosition(const char* label) {
  Print("%s BIOS position: ", label);
  gTool.LastReadChip = GetChipPosition();
  Print("%s\n", ChipLabel(gTool.LastReadChip));
}

EFI_STATUS RestoreBiosPosition(uint8_t verbose) {
  ChipPosition startup = gTool.StartupChip;
  if (startup != ChipPosition::Main && startup != ChipPosition::Backup) return kEfiUnsupported;
  if (GetChipPosition() != startup) {
    if (verbose) Print("Restore BIOS position ........... Ok\n");
    SetChipPosition(startup);
  }
  if (verbose) {
    Print("\n");
    ShowBiosPosition("Current");
  }
  return kEfiSuccess;
}

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
