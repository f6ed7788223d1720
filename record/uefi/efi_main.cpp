// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-record.efi's image entry.
#include "record/recorder.h"
#include "runtime/shell_program.h"

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable) {
  return RunShellProgram(imageHandle, systemTable, RecordBoardMain);
}
