// SPDX-License-Identifier: BSD-2-Clause-Patent
// Internal state of the simulated machine, shared by the simulated firmware
// services and the simulated CPU layer.
#pragma once

#include <set>
#include <vector>

#include "runtime/efi.h"
#include "sim/machine.h"
#include "sim/low_memory.h"
#include "runtime/efi_acpi_sdt.h"
#include "runtime/efi_pci_io.h"
#include "firmware/chip_select_protocol.h"

namespace sim {

struct SimPciFunction {
  EFI_PCI_IO_PROTOCOL protocol;  // first, so the protocol pointer is the function
  size_t index;
};

struct Machine::Impl {
  EFI_SYSTEM_TABLE system_table{};
  EFI_BOOT_SERVICES boot_services{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL console_out{};
  ChipSelectProtocol chip_select{};
  EFI_ACPI_SDT_PROTOCOL acpi_sdt{};
  std::vector<std::vector<uint8_t>> acpi_tables;
  std::vector<SimPciFunction> pci_functions;
  LowMemory pool;
  LowMemory pages;
  uint64_t pool_calls = 0;
  std::map<uint32_t, uint64_t> msrs;
  bool cr3_just_reloaded = false;  // the last processor operation was a CR3 reload
  std::set<std::string> files;
};

}  // namespace sim
