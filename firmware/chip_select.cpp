// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/chip_select.h"

#include "firmware/mailbox.h"
#include "firmware/pool.h"
#include "image/bios_info.h"
#include "runtime/efi_globals.h"
#include "runtime/print.h"
#include "firmware/chip_select_protocol.h"

namespace {

// The interface is looked up again for every operation; nothing is cached.
ChipSelectProtocol* LocateChipSelect() {
  void* interface = nullptr;
  if (EfiError(gBS->LocateProtocol(&kChipSelectProtocolGuid, nullptr, &interface)) || interface == nullptr)
    return nullptr;
  return static_cast<ChipSelectProtocol*>(interface);
}

}  // namespace

EFI_STATUS InitFirmwareAccess() {
  ChipSelectProtocol* chipSelect = LocateChipSelect();
  if (chipSelect == nullptr || chipSelect->IsSupported() == 0) {
    SetExitStatus(ExitStatus::NotSupported);
    Print("\n!! This BIOS does not support Pellgard !!\n");
    return kEfiUnsupported;
  }
  // One identity record's worth that nothing reads: start-up has always
  // taken it here, and keeping it keeps every later allocation's place in
  // the order (a failure here is the out-of-memory exit, 133).
  gTool.StartupRecord = AllocateZeroed(sizeof(BiosInfo));
  if (gTool.StartupRecord == nullptr) {
    SetExitStatus(ExitStatus::OutOfMemory);
    Print("%s\n", "Memory allocation error!");
    return kEfiUnsupported;
  }
  EFI_STATUS status = QueryFlashMailbox(gTool.Geometry.PartInfo, &gTool.Geometry.FlashSize, &gTool.Geometry.BiosSize,
                                        &gTool.Geometry.BlockSize);
  if (EfiError(status)) {
    SetExitStatus(ExitStatus::FlashInitFailed);
    Print("\n%s\n\n", "!!! SPI Flash initialization fail !!!");
    return kEfiUnsupported;
  }
  return status;
}

ChipPosition GetChipPosition() {
  ChipSelectProtocol* chipSelect = LocateChipSelect();
  if (chipSelect == nullptr) return ChipPosition::Main;
  return static_cast<ChipPosition>(chipSelect->GetActiveChip());
}

EFI_STATUS SetChipPosition(ChipPosition chip) {
  ChipSelectProtocol* chipSelect = LocateChipSelect();
  if (chipSelect == nullptr) return kEfiUnsupported;
  chipSelect->SetActiveChip(RawChip(chip));
  return chipSelect->GetActiveChip() == RawChip(chip) ? kEfiSuccess : kEfiUnsupported;
}
