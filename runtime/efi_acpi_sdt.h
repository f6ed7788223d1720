// SPDX-License-Identifier: BSD-2-Clause-Patent
// The ACPI SDT protocol of the PI standard, through which the FADT is found.
#pragma once

#include "runtime/efi.h"

// ACPI SDT protocol (from the PI standard): only GetAcpiTable is used.
struct EFI_ACPI_SDT_HEADER {
  uint32_t Signature;
  uint32_t Length;
  uint8_t Revision;
  uint8_t Checksum;
  char OemId[6];
  char OemTableId[8];
  uint32_t OemRevision;
  uint32_t CreatorId;
  uint32_t CreatorRevision;
};

using EFI_ACPI_TABLE_VERSION = uint32_t;
using EFI_ACPI_DATA_TYPE = uint32_t;

struct EFI_ACPI_SDT_PROTOCOL {
  uint32_t AcpiVersion;
  EFI_STATUS(EFIAPI* GetAcpiTable)
  (UINTN index, EFI_ACPI_SDT_HEADER** table, EFI_ACPI_TABLE_VERSION* version, UINTN* tableKey);
  void* RegisterNotify;
  void* Open;
  void* OpenSdt;
  void* Close;
  void* GetChild;
  void* GetOption;
  void* SetOption;
  void* FindPath;
};

inline constexpr EFI_GUID kAcpiSdtProtocolGuid = {
    0xEB97088E, 0xCFDF, 0x49C6, {0xBE, 0x4B, 0xD9, 0x06, 0xA5, 0xB2, 0x0E, 0x86}};

static_assert(sizeof(EFI_ACPI_SDT_HEADER) == 36);
static_assert(offsetof(EFI_ACPI_SDT_PROTOCOL, GetAcpiTable) == 8);
