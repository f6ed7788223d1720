// SPDX-License-Identifier: BSD-2-Clause-Patent
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
  EFI_STATUS restored = kEfiSuccess;
  if (GetChipPosition() != startup) {
    if (verbose) Print("Restore BIOS position ........... Ok\n");
    // The switch reads the position back: an error means the board stays on
    // the other chip.
    if (EfiError(SetChipPosition(startup))) restored = kEfiDeviceError;
  }
  if (verbose) {
    Print("\n");
    ShowBiosPosition("Current");
  }
  return restored;
}

void ReportFailedRestore(EFI_STATUS restore) {
  if (restore != kEfiDeviceError) return;
  Print("%s", SwitchFailedLine(gTool.StartupChip));
  // A run that already failed keeps the status that says why.
  if (gTool.ExitCode == ExitStatus::Success) SetExitStatus(ExitStatus::SwitchFailed);
}

const char* SwitchedLine(ChipPosition chip) {
  return chip == ChipPosition::Backup ? "Switch to Backup BIOS ........... Ok\n"
                                      : "Switch to Main BIOS ............. Ok\n";
}

const char* SwitchFailedLine(ChipPosition chip) {
  return chip == ChipPosition::Backup ? "!! Unable to switch to Backup BIOS !!\n"
                                      : "!! Unable to switch to Main BIOS !!\n";
}
