// SPDX-License-Identifier: BSD-2-Clause-Patent
// vbactive.efi: a shell application that reports which chip of the virtual
// board answers now, as its exit status (%lasterror%): the raw chip position
// from vboard.efi's private protocol (0 Main, 1 Backup). It prints nothing and
// changes nothing; Not Found when vboard.efi is not loaded.
#include "runtime/efi.h"
#include "firmware/cpu/vboard/vboard_protocol.h"

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE, EFI_SYSTEM_TABLE* table) {
  void* interface = nullptr;
  if (EfiError(table->BootServices->LocateProtocol(&kVboardProtocolGuid, nullptr, &interface)) || interface == nullptr)
    return kEfiNotFound;
  return static_cast<VboardProtocol*>(interface)->ActiveChip();
}
