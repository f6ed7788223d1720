// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/board_probe.h"

#include "firmware/address_width.h"
#include "firmware/cpu/msr.h"
#include "firmware/flash_mailbox.h"
#include "firmware/mailbox.h"
#include "firmware/pool.h"
#include "runtime/efi_globals.h"
#include "runtime/efi_acpi_sdt.h"
#include "runtime/efi_pci_io.h"
#include "firmware/chip_select_protocol.h"

namespace {

constexpr uint32_t kMtrrCapability = 0xFE;
constexpr uint32_t kMtrrPhysBase0 = 0x200;
constexpr uint32_t kPciClassCodeOffset = 8;
constexpr uint32_t kPciVendorIdOffset = 0;

PciRecord ProbePciFunction(EFI_HANDLE handle) {
  PciRecord function = {};
  void* interface = nullptr;
  if (EfiError(gBS->HandleProtocol(handle, &kPciIoProtocolGuid, &interface)) || interface == nullptr) {
    function.HandleProtocolFails = true;
    return function;
  }
  auto* pciIo = static_cast<EFI_PCI_IO_PROTOCOL*>(interface);
  uint32_t classCode = 0;
  if (EfiError(pciIo->Pci.Read(pciIo, EfiPciIoWidthUint32, kPciClassCodeOffset, 1, &classCode))) {
    function.ClassReadFails = true;
    return function;
  }
  function.BaseClass = static_cast<uint8_t>(classCode >> 24);
  function.Subclass = static_cast<uint8_t>(classCode >> 16);
  if (EfiError(pciIo->Pci.Read(pciIo, EfiPciIoWidthUint16, kPciVendorIdOffset, 1, &function.Vendor)))
    function.VendorReadFails = true;
  return function;
}

}  // namespace

void ProbeMtrrs(MtrrRecord* mtrr) {
  // Only the pairs MTRRcap reports exist; reading beyond them faults.
  mtrr->VariablePairs = static_cast<uint32_t>(ReadMsr(kMtrrCapability) & 0xFF);
  for (uint32_t pair = 0; pair < mtrr->VariablePairs; ++pair) {
    mtrr->Base[pair] = ReadMsr(kMtrrPhysBase0 + 2 * pair);
    mtrr->Mask[pair] = ReadMsr(kMtrrPhysBase0 + 2 * pair + 1);
  }
  mtrr->PhysAddressBits = PhysicalAddressBits();
  mtrr->TmeKeyIdBits = MemoryEncryptionKeyIdBits();
}

bool ProbePciFunctions(BoardRecord* record) {
  UINTN count = 0;
  EFI_HANDLE* handles = nullptr;
  // No PCI I/O handle at all: an empty list, which the probe treats alike.
  if (EfiError(gBS->LocateHandleBuffer(ByProtocol, &kPciIoProtocolGuid, nullptr, &count, &handles))) return true;
  bool held = true;
  if (count != 0) {
    record->Pci = static_cast<PciRecord*>(AllocateZeroed(count * sizeof(PciRecord)));
    held = record->Pci != nullptr;
    if (held) {
      for (UINTN i = 0; i < count; ++i) record->Pci[i] = ProbePciFunction(handles[i]);
      record->PciCount = static_cast<uint32_t>(count);
    }
  }
  if (handles != nullptr) gBS->FreePool(handles);
  return held;
}

void ProbeAcpi(BoardRecord* record) {
  void* interface = nullptr;
  if (EfiError(gBS->LocateProtocol(&kAcpiSdtProtocolGuid, nullptr, &interface)) || interface == nullptr) {
    record->Acpi = AcpiMode::Absent;
    return;
  }
  const EFI_ACPI_SDT_HEADER* fadt = nullptr;
  if (EfiError(FindFadt(&fadt))) {
    record->Acpi = AcpiMode::NoFacp;
    return;
  }
  record->Acpi = AcpiMode::Present;
  record->SmiPort = ReadSmiCommandPort(fadt);
}

ChipSelectMode ProbeChipSelectMode() {
  void* interface = nullptr;
  if (EfiError(gBS->LocateProtocol(&kChipSelectProtocolGuid, nullptr, &interface)) || interface == nullptr)
    return ChipSelectMode::Absent;
  return static_cast<ChipSelectProtocol*>(interface)->IsSupported() != 0 ? ChipSelectMode::Present
                                                                         : ChipSelectMode::Unsupported;
}

void ProbeChipSelect(BoardRecord* record) {
  void* interface = nullptr;
  if (EfiError(gBS->LocateProtocol(&kChipSelectProtocolGuid, nullptr, &interface)) || interface == nullptr) {
    record->ChipSelect = ChipSelectMode::Absent;
    record->Active = 0;
    return;
  }
  auto* chipSelect = static_cast<ChipSelectProtocol*>(interface);
  record->ChipSelect = chipSelect->IsSupported() != 0 ? ChipSelectMode::Present : ChipSelectMode::Unsupported;
  record->Active = chipSelect->GetActiveChip();
}

void ProbeMailbox(BoardRecord* record) {
  record->Mailbox = MailboxMode::None;
  if (EfiError(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr))) return;
  record->Mailbox = gTool.MailboxSignature == kSignatureQv1 ? MailboxMode::Qv1 : MailboxMode::Qvt;
}
