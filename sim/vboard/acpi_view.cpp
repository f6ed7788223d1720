// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's ACPI tables over the firmware's: the SDT protocol's interface is
// reinstalled with a GetAcpiTable that hides the FADT or shows a copy of it
// with the board's SMI_CMD, or the protocol is taken away.
#include "runtime/efi_acpi_sdt.h"
#include "runtime/memory.h"
#include "sim/vboard/efi_media.h"
#include "sim/vboard/firmware_view.h"

namespace vboard {
namespace {

constexpr uint32_t kFadtSignature = 0x50434146;  // "FACP"
constexpr uint32_t kSmiCommandOffset = 48;       // SMI_CMD, 32 bits

using GetAcpiTableFunction = decltype(EFI_ACPI_SDT_PROTOCOL::GetAcpiTable);

GetAcpiTableFunction firmwareGetAcpiTable = nullptr;
EFI_ACPI_SDT_PROTOCOL boardSdt{};
AcpiMode boardAcpi = AcpiMode::Present;
EFI_ACPI_SDT_HEADER* boardFadt = nullptr;  // the copy with the board's SMI_CMD

bool IsFadt(const EFI_ACPI_SDT_HEADER* table) { return table != nullptr && table->Signature == kFadtSignature; }

// The list as the board has it: without the FADT, the firmware's index of
// the board's `index` is one more from the FADT on.
EFI_STATUS EFIAPI BoardGetAcpiTable(UINTN index, EFI_ACPI_SDT_HEADER** table, EFI_ACPI_TABLE_VERSION* version,
                                    UINTN* key) {
  constexpr UINTN kMostTables = 1024;
  UINTN shown = 0;
  for (UINTN firmwareIndex = 0; firmwareIndex < kMostTables; ++firmwareIndex) {
    EFI_STATUS status = firmwareGetAcpiTable(firmwareIndex, table, version, key);
    if (status != kEfiSuccess) return status;
    if (IsFadt(*table)) {
      if (boardAcpi == AcpiMode::NoFacp) continue;
      *table = boardFadt;
    }
    if (shown++ == index) return kEfiSuccess;
  }
  return kEfiNotFound;
}

// A copy of the firmware's FADT with SMI_CMD set and the checksum made good.
const char* CopyFadt(EFI_BOOT_SERVICES* bootServices, uint16_t smiPort) {
  for (UINTN index = 0;; ++index) {
    EFI_ACPI_SDT_HEADER* table = nullptr;
    EFI_ACPI_TABLE_VERSION version = 0;
    UINTN key = 0;
    if (firmwareGetAcpiTable(index, &table, &version, &key) != kEfiSuccess) return "the firmware has no FADT";
    if (!IsFadt(table)) continue;
    if (table->Length < kSmiCommandOffset + sizeof(uint32_t)) return "the firmware's FADT has no SMI_CMD";
    void* copy = nullptr;
    if (EfiError(bootServices->AllocatePool(EfiBootServicesData, table->Length, &copy)) || copy == nullptr)
      return "no memory for the FADT";
    memcpy(copy, table, table->Length);
    auto* bytes = static_cast<uint8_t*>(copy);
    uint32_t port = smiPort;
    memcpy(bytes + kSmiCommandOffset, &port, sizeof port);
    boardFadt = static_cast<EFI_ACPI_SDT_HEADER*>(copy);
    boardFadt->Checksum = 0;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < boardFadt->Length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    boardFadt->Checksum = static_cast<uint8_t>(-sum);
    return nullptr;
  }
}

}  // namespace

const char* InstallAcpiView(EFI_BOOT_SERVICES* bootServices, AcpiMode mode, uint16_t smiPort) {
  UINTN count = 0;
  EFI_HANDLE* handles = nullptr;
  if (EfiError(bootServices->LocateHandleBuffer(ByProtocol, &kAcpiSdtProtocolGuid, nullptr, &count, &handles)) ||
      count == 0)
    return mode == AcpiMode::Absent ? nullptr : "the firmware has no ACPI SDT protocol";
  EFI_HANDLE handle = handles[0];
  bootServices->FreePool(handles);
  void* interface = nullptr;
  if (EfiError(bootServices->HandleProtocol(handle, &kAcpiSdtProtocolGuid, &interface)) || interface == nullptr)
    return "the firmware's ACPI SDT protocol cannot be opened";
  auto* firmwareSdt = static_cast<EFI_ACPI_SDT_PROTOCOL*>(interface);
  if (mode == AcpiMode::Absent) {
    auto uninstall = reinterpret_cast<EFI_UNINSTALL_PROTOCOL_INTERFACE>(bootServices->UninstallProtocolInterface);
    return EfiError(uninstall(handle, &kAcpiSdtProtocolGuid, firmwareSdt))
               ? "the firmware's ACPI SDT protocol cannot be uninstalled"
               : nullptr;
  }
  firmwareGetAcpiTable = firmwareSdt->GetAcpiTable;
  boardAcpi = mode;
  if (mode == AcpiMode::Present)
    if (const char* problem = CopyFadt(bootServices, smiPort)) return problem;
  boardSdt = *firmwareSdt;
  boardSdt.GetAcpiTable = BoardGetAcpiTable;
  auto reinstall = reinterpret_cast<EFI_REINSTALL_PROTOCOL_INTERFACE>(bootServices->ReinstallProtocolInterface);
  if (EfiError(reinstall(handle, &kAcpiSdtProtocolGuid, firmwareSdt, &boardSdt))) {
    if (boardFadt != nullptr) bootServices->FreePool(boardFadt);
    boardFadt = nullptr;
    return "the firmware's ACPI SDT protocol cannot be replaced";
  }
  return nullptr;
}

}  // namespace vboard
