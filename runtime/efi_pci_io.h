// SPDX-License-Identifier: BSD-2-Clause-Patent
// The PCI I/O protocol, for the host-bridge probe.
#pragma once

#include "runtime/efi.h"

// PCI I/O protocol: only the configuration-space read is used.
enum EFI_PCI_IO_PROTOCOL_WIDTH : uint32_t {
  EfiPciIoWidthUint8 = 0,
  EfiPciIoWidthUint16 = 1,
  EfiPciIoWidthUint32 = 2,
};

struct EFI_PCI_IO_PROTOCOL;
struct EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS {
  EFI_STATUS(EFIAPI* Read)
  (EFI_PCI_IO_PROTOCOL* self, EFI_PCI_IO_PROTOCOL_WIDTH width, uint32_t offset, UINTN count, void* buffer);
  void* Write;
};

struct EFI_PCI_IO_PROTOCOL {
  void* PollMem;
  void* PollIo;
  void* MemRead;
  void* MemWrite;
  void* IoRead;
  void* IoWrite;
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  // The remaining members are never touched.
};

inline constexpr EFI_GUID kPciIoProtocolGuid = {
    0x4CF5B200, 0x68B8, 0x4CA5, {0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A}};

static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48);
