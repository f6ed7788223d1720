// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/cache_control.h"

#include "firmware/address_width.h"
#include "firmware/cpu/msr.h"
#include "runtime/efi_globals.h"
#include "runtime/efi_pci_io.h"

namespace {

constexpr uint32_t kMtrrCapability = 0xFE;
constexpr uint32_t kMtrrPhysBase0 = 0x200;
constexpr uint32_t kOverridePair = 9;
constexpr uint32_t kOverrideBase = kMtrrPhysBase0 + 2 * kOverridePair;  // 0x212
constexpr uint32_t kOverrideMask = kOverrideBase + 1;                   // 0x213
constexpr uint64_t kOverrideBaseValue = 0x00000000FF000000ull;          // uncacheable from 0xFF000000
constexpr uint64_t kRangeSize = 16ull << 20;
constexpr uint64_t kMaskValid = 1ull << 11;
constexpr uint8_t kMemoryTypeWriteProtected = 5;
constexpr uint32_t kPciClassCodeOffset = 8;
constexpr uint32_t kPciVendorIdOffset = 0;

EFI_PCI_IO_PROTOCOL* PciIoOf(EFI_HANDLE handle, EFI_STATUS* status) {
  void* interface = nullptr;
  *status = gBS->HandleProtocol(handle, &kPciIoProtocolGuid, &interface);
  if (EfiError(*status)) return nullptr;
  return static_cast<EFI_PCI_IO_PROTOCOL*>(interface);
}

bool MatchesClass(EFI_HANDLE handle, uint8_t baseClass, uint8_t subclass) {
  EFI_STATUS status;
  EFI_PCI_IO_PROTOCOL* pciIo = PciIoOf(handle, &status);
  if (pciIo == nullptr) return false;
  uint32_t classCode = 0;
  if (EfiError(pciIo->Pci.Read(pciIo, EfiPciIoWidthUint32, kPciClassCodeOffset, 1, &classCode))) return false;
  return static_cast<uint8_t>(classCode >> 24) == baseClass && static_cast<uint8_t>(classCode >> 16) == subclass;
}

// Address bits that an MTRR may set: the physical width less the KeyID bits.
uint32_t UsableAddressBits() {
  uint32_t physical = PhysicalAddressBits();
  uint32_t keyId = MemoryEncryptionKeyIdBits();
  return keyId < physical ? physical - keyId : 0;
}

// Mask for a 16 MiB range with the valid bit, limited to the usable address
// width: setting bits above it faults.
uint64_t OverrideMaskValue(uint32_t usableBits) {
  uint64_t addressMask = usableBits >= 64 ? ~0ull : (1ull << usableBits) - 1;
  return (addressMask & ~(kRangeSize - 1)) | kMaskValid;
}

}  // namespace

EFI_STATUS ProbeHostBridge(uint8_t baseClass, uint8_t subclass, uint16_t vendorId) {
  UINTN count = 0;
  EFI_HANDLE* handles = nullptr;
  EFI_STATUS status = gBS->LocateHandleBuffer(ByProtocol, &kPciIoProtocolGuid, nullptr, &count, &handles);
  if (EfiError(status)) return status;

  // First pass: move the handles of the requested class to the front.
  UINTN kept = 0;
  for (UINTN i = 0; i < count; ++i)
    if (MatchesClass(handles[i], baseClass, subclass)) handles[kept++] = handles[i];

  EFI_STATUS result = kEfiNotFound;
  // Second pass: the first kept handle with the vendor wins.
  for (UINTN i = 0; i < kept; ++i) {
    EFI_PCI_IO_PROTOCOL* pciIo = PciIoOf(handles[i], &status);
    if (pciIo == nullptr) {
      result = status;
      continue;
    }
    uint16_t vendor = 0;
    status = pciIo->Pci.Read(pciIo, EfiPciIoWidthUint16, kPciVendorIdOffset, 1, &vendor);
    if (EfiError(status)) {
      result = status;
      continue;
    }
    if (vendor == vendorId) {
      result = kEfiSuccess;
      break;
    }
    result = kEfiNotFound;
  }
  if (handles != nullptr) gBS->FreePool(handles);
  return result;
}

void SetFlashWindowUncached() {
  // Pairs that the processor does not have fault on access.
  if ((ReadMsr(kMtrrCapability) & 0xFF) <= kOverridePair) return;
  bool writeProtectedRange = false;
  for (uint32_t pair = 0; pair < kOverridePair && !writeProtectedRange; ++pair)
    writeProtectedRange = (ReadMsr(kMtrrPhysBase0 + 2 * pair) & 0xFF) == kMemoryTypeWriteProtected;
  if (!writeProtectedRange) return;
  if (static_cast<uint32_t>(ReadMsr(kOverrideBase)) != 0) return;
  if (static_cast<uint32_t>(ReadMsr(kOverrideMask)) != 0) return;
  // Below 32 usable bits the base 0xFF000000 itself would not fit.
  uint32_t usableBits = UsableAddressBits();
  if (usableBits < 32) return;
  WriteMsr(kOverrideBase, kOverrideBaseValue);
  WriteMsr(kOverrideMask, OverrideMaskValue(usableBits));
  ReloadCr3();
  // Lines filled while the range was write-protected would still answer
  // reads after a chip switch: flush them once the range is uncacheable.
  WriteBackInvalidateCaches();
}

void ApplyFlashWindowCacheOverride() {
  if (ProbeHostBridge(0x06, 0x00, 0x8086) == kEfiSuccess) SetFlashWindowUncached();
}
