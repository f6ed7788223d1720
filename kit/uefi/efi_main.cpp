// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-kit.efi's image entry: a boot application the firmware starts from
// the stick (\EFI\BOOT\BOOTX64.EFI), with no shell.
#include "kit/uefi/field_kit.h"
#include "runtime/efi_globals.h"

// Before the kit runs: nothing on a real board; the test build loads the
// virtual board's driver here.
void PrepareBoard();

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable) {
  gImageHandle = imageHandle;
  gST = systemTable;
  gBS = systemTable->BootServices;
  // The test and the saves outlast the firmware's five-minute boot watchdog.
  gBS->SetWatchdogTimer(0, 0, 0, nullptr);
  PrepareBoard();
  RunFieldKit();
  return kEfiSuccess;
}
