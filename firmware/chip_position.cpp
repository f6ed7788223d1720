#include "firmware/chip_position.h"

#include "firmware/chip_select.h"
#include "firmware/tool_state.h"
#include "runtime/print.h"

void ShowBiosPosition(const char* label) {
  Print("%s BIOS position: ", label);
  gTool.LastReadChip = GetChipPosition();
  Print("%s\n", gTool.LastReadChip == ChipPosition::Main ? "MAIN" : "BACKUP");
}

EFI_STATUS RestoreBiosPosition(bool verbose) {
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

const char* SwitchedLine(ChipPosition chip) {
  return chip == ChipPosition::Backup ? "Switch to Backup BIOS ........... Ok\n"
                                      : "Switch to Main BIOS ............. Ok\n";
}

const char* SwitchFailedLine(ChipPosition chip) {
  return chip == ChipPosition::Backup ? "!! Unable to switch to Backup BIOS !!\n"
                                      : "!! Unable to switch to Main BIOS !!\n";
}
