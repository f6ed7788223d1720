// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/mailbox.h"

#include "firmware/cpu/port.h"
#include "firmware/pool.h"
#include "runtime/efi_globals.h"
#include "runtime/memory.h"
#include "runtime/efi_acpi_sdt.h"

namespace {

constexpr uint32_t kFadtSignature = 0x50434146;  // "FACP"
constexpr uint32_t kFadtSmiCommandOffset = 48;

FlashMailbox* AllocateMailbox() { return static_cast<FlashMailbox*>(AllocateZeroed(sizeof(FlashMailbox))); }

// Resolves the SMI command port from the FADT while it is unknown.
EFI_STATUS ResolveSmiCommandPort() {
  if (gTool.SmiCommandPort != 0) return kEfiSuccess;
  if (gTool.FadtPointer == nullptr) {
    const EFI_ACPI_SDT_HEADER* fadt = nullptr;
    EFI_STATUS status = FindFadt(&fadt);
    if (EfiError(status)) return status;
    gTool.FadtPointer = fadt;
  }
  gTool.SmiCommandPort = ReadSmiCommandPort(gTool.FadtPointer);
  // Without a port there is nowhere to send the SMI.
  return gTool.SmiCommandPort != 0 ? kEfiSuccess : kEfiUnsupported;
}

bool SendRequest(MailboxCommand command, uint32_t arg0, uint32_t arg1, uint32_t arg2) {
  FlashMailbox* mailbox = AllocateMailbox();
  bool sent = PrepareMailboxRequest(mailbox);
  if (sent) {
    mailbox->Signature = gTool.MailboxSignature;
    mailbox->Command = static_cast<uint32_t>(command);
    mailbox->Arg0 = arg0;
    mailbox->Arg1 = arg1;
    mailbox->Arg2 = arg2;
    TriggerSoftwareSmi(gTool.SmiCommandPort, gTool.SmiCommandByte, mailbox);
  }
  ReleasePool(mailbox);
  return sent;
}

}  // namespace

uint16_t ReadSmiCommandPort(const EFI_ACPI_SDT_HEADER* fadt) {
  if (fadt->Length < kFadtSmiCommandOffset + sizeof(uint16_t)) return 0;
  uint16_t port = 0;
  memcpy(&port, reinterpret_cast<const uint8_t*>(fadt) + kFadtSmiCommandOffset, sizeof port);
  return port;
}

EFI_STATUS FindFadt(const EFI_ACPI_SDT_HEADER** table) {
  *table = nullptr;
  void* interface = nullptr;
  EFI_STATUS status = gBS->LocateProtocol(&kAcpiSdtProtocolGuid, nullptr, &interface);
  if (EfiError(status)) return status;
  if (interface == nullptr) return kEfiNotFound;
  auto* sdt = static_cast<EFI_ACPI_SDT_PROTOCOL*>(interface);
  // A firmware whose GetAcpiTable never reports the end would keep the walk
  // going for ever; no real table list comes near this many entries.
  constexpr UINTN kMostTables = 1024;
  for (UINTN index = 0; index < kMostTables; ++index) {
    EFI_ACPI_SDT_HEADER* candidate = nullptr;
    EFI_ACPI_TABLE_VERSION version = 0;
    UINTN key = 0;
    status = sdt->GetAcpiTable(index, &candidate, &version, &key);
    if (status != kEfiSuccess) return status;
    if (candidate != nullptr && candidate->Signature == kFadtSignature) {
      *table = candidate;
      return kEfiSuccess;
    }
  }
  return kEfiNotFound;
}

EFI_STATUS QueryFlashMailbox(uint8_t* partArea, uint32_t* flashSize, uint32_t* biosSize, uint32_t* blockSize) {
  FlashMailbox* mailbox = AllocateMailbox();
  if (mailbox == nullptr) return kEfiUnsupported;
  EFI_STATUS status = ResolveSmiCommandPort();
  if (EfiError(status)) {
    ReleasePool(mailbox);
    return status;
  }
  mailbox->Signature = kHandshakeSignature;
  mailbox->Command = static_cast<uint32_t>(MailboxCommand::Query);
  gTool.SmiCommandByte = kSmiFlashCommandByte;
  TriggerSoftwareSmi(gTool.SmiCommandPort, kSmiFlashCommandByte, mailbox);

  uint32_t signature = 0;
  if (mailbox->Answer == kAnswerQvt) {
    signature = kSignatureQvt;
  } else if (mailbox->Answer == kAnswerQv1) {
    signature = kSignatureQv1;
  } else {
    ReleasePool(mailbox);
    return kEfiUnsupported;
  }
  gTool.MailboxSignature = signature;
  if (partArea != nullptr) {
    memcpy(partArea, mailbox->PartInfo, sizeof mailbox->PartInfo);
    memcpy(partArea + sizeof mailbox->PartInfo, mailbox->PartName, sizeof mailbox->PartName);
  }
  if (flashSize != nullptr) *flashSize = mailbox->Arg2;
  if (biosSize != nullptr) *biosSize = mailbox->Arg0;
  if (blockSize != nullptr) *blockSize = mailbox->Arg1;
  ReleasePool(mailbox);
  return kEfiSuccess;
}

bool PrepareMailboxRequest(FlashMailbox* buffer) {
  if (buffer == nullptr || gTool.SmiCommandByte == 0 || gTool.MailboxSignature == 0) return false;
  memset(buffer, 0, sizeof *buffer);
  return true;
}

bool SendMailboxCommand(MailboxCommand command) { return SendRequest(command, 0, 0, 0); }

bool SendReadBlock(uint32_t address, uint32_t length, void* destination) {
  return SendRequest(MailboxCommand::ReadBlock, address, length,
                     static_cast<uint32_t>(reinterpret_cast<uintptr_t>(destination)));
}
