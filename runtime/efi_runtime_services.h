// SPDX-License-Identifier: BSD-2-Clause-Patent
// The runtime services table: the clock, variables and the reset, which the
// field kit uses for its run's date, the Secure Boot state and the restart.
#pragma once

#include "runtime/efi.h"

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_STATUS(EFIAPI* GetTime)(EFI_TIME* time, void* capabilities);
  void* SetTime;
  void* GetWakeupTime;
  void* SetWakeupTime;
  void* SetVirtualAddressMap;
  void* ConvertPointer;
  EFI_STATUS(EFIAPI* GetVariable)
  (const CHAR16* name, const EFI_GUID* vendor, uint32_t* attributes, UINTN* dataSize, void* data);
  void* GetNextVariableName;
  void* SetVariable;
  void* GetNextHighMonotonicCount;
  void(EFIAPI* ResetSystem)(uint32_t resetType, EFI_STATUS status, UINTN dataSize, void* data);
};
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetTime) == 24);
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72);
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 104);

constexpr uint32_t kEfiResetCold = 0;

// The vendor GUID of the variables the UEFI standard defines (SecureBoot).
constexpr EFI_GUID kEfiGlobalVariableGuid = {
    0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
