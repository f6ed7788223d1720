// SPDX-License-Identifier: BSD-2-Clause-Patent
// The simulated system table, boot services and protocols. They are called by
// the program code exactly as the real firmware's are, with the same calling
// convention and layouts.
#include <algorithm>
#include <cstring>

#include "sim/firmware_services.h"
#include "sim/machine_impl.h"
#include "runtime/efi_acpi_sdt.h"
#include "runtime/efi_pci_io.h"
#include "firmware/chip_select_protocol.h"

namespace sim {
namespace {

Machine& M() { return CurrentMachine(); }
Machine::Impl& I() { return CurrentMachine().impl(); }

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE, UINTN size, void** buffer) {
  Machine& machine = M();
  uint64_t ordinal = ++I().pool_calls;
  machine.report().pool_allocations = ordinal;
  const auto& failures = machine.board().fail_alloc;
  if (std::find(failures.begin(), failures.end(), ordinal) != failures.end()) {
    *buffer = nullptr;
    return kEfiOutOfResources;
  }
  *buffer = I().pool.Allocate(size);
  return *buffer != nullptr ? kEfiSuccess : kEfiOutOfResources;
}

EFI_STATUS EFIAPI FreePool(void* buffer) { return I().pool.Release(buffer) ? kEfiSuccess : kEfiInvalidParameter; }

EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN pages, EFI_PHYSICAL_ADDRESS* memory) {
  void* block = I().pages.Allocate(pages * 4096);
  if (block == nullptr) return kEfiOutOfResources;
  *memory = reinterpret_cast<uintptr_t>(block);
  return kEfiSuccess;
}

EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS memory, UINTN) {
  return I().pages.Release(reinterpret_cast<void*>(static_cast<uintptr_t>(memory))) ? kEfiSuccess
                                                                                    : kEfiInvalidParameter;
}

void EFIAPI SetMem(void* buffer, UINTN size, uint8_t value) { std::memset(buffer, value, size); }

void EFIAPI CopyMem(void* destination, const void* source, UINTN length) { std::memmove(destination, source, length); }

EFI_STATUS EFIAPI Stall(UINTN microseconds) {
  M().report().stalls_us.push_back(microseconds);
  return kEfiSuccess;
}

EFI_STATUS EFIAPI SetWatchdogTimer(UINTN timeout, uint64_t, UINTN, CHAR16*) {
  M().report().watchdog_timeouts.push_back(timeout);
  return kEfiSuccess;
}

EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID* protocol, void*, void** interface) {
  Machine& machine = M();
  *interface = nullptr;
  if (SameGuid(*protocol, kChipSelectProtocolGuid)) {
    ++machine.report().locate_chip_select_calls;
    if (machine.board().chip_select == ChipSelectMode::Absent) return kEfiNotFound;
    *interface = &I().chip_select;
    return kEfiSuccess;
  }
  if (SameGuid(*protocol, kAcpiSdtProtocolGuid)) {
    if (machine.board().acpi == AcpiMode::Absent) return kEfiNotFound;
    *interface = &I().acpi_sdt;
    return kEfiSuccess;
  }
  return kEfiNotFound;
}

EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID* protocol, void*, UINTN* count,
                                     EFI_HANDLE** buffer) {
  *count = 0;
  *buffer = nullptr;
  if (type != ByProtocol || !SameGuid(*protocol, kPciIoProtocolGuid)) return kEfiNotFound;
  auto& functions = I().pci_functions;
  if (functions.empty()) return kEfiNotFound;
  // The list is the firmware's own allocation: it does not count as one of
  // the program's, but the program must free it.
  auto* handles = static_cast<EFI_HANDLE*>(I().pool.Allocate(functions.size() * sizeof(EFI_HANDLE)));
  for (size_t i = 0; i < functions.size(); ++i) handles[i] = &functions[i];
  *count = functions.size();
  *buffer = handles;
  return kEfiSuccess;
}

EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE handle, const EFI_GUID* protocol, void** interface) {
  *interface = nullptr;
  auto& functions = I().pci_functions;
  auto* function = static_cast<SimPciFunction*>(handle);
  bool known = !functions.empty() && function >= &functions.front() && function <= &functions.back();
  if (!known || !SameGuid(*protocol, kPciIoProtocolGuid)) return kEfiUnsupported;
  if (M().board().pci[function->index].handle_protocol_fails) return kEfiUnsupported;
  *interface = &function->protocol;
  return kEfiSuccess;
}

EFI_STATUS EFIAPI PciRead(EFI_PCI_IO_PROTOCOL* self, EFI_PCI_IO_PROTOCOL_WIDTH width, uint32_t offset, UINTN count,
                          void* buffer) {
  const PciFunction& config = M().board().pci[reinterpret_cast<SimPciFunction*>(self)->index];
  if (count != 1) return kEfiUnsupported;
  if (width == EfiPciIoWidthUint32 && offset == 8) {
    if (config.class_read_fails) return kEfiDeviceError;
    uint32_t classCode = static_cast<uint32_t>(config.base_class) << 24 | static_cast<uint32_t>(config.subclass) << 16;
    std::memcpy(buffer, &classCode, sizeof classCode);
    return kEfiSuccess;
  }
  if (width == EfiPciIoWidthUint16 && offset == 0) {
    if (config.vendor_read_fails) return kEfiDeviceError;
    std::memcpy(buffer, &config.vendor, sizeof config.vendor);
    return kEfiSuccess;
  }
  return kEfiUnsupported;
}

uint8_t EFIAPI IsSupported() { return ModelIsSupported(M().model()); }

uint8_t EFIAPI GetActiveChip() { return M().active_raw(); }

void EFIAPI SetActiveChip(uint8_t chip) { ModelSetActiveChip(M().model(), chip); }

EFI_STATUS EFIAPI GetAcpiTable(UINTN index, EFI_ACPI_SDT_HEADER** table, EFI_ACPI_TABLE_VERSION* version, UINTN* key) {
  ++M().report().get_acpi_table_calls;
  auto& tables = I().acpi_tables;
  if (index >= tables.size()) return kEfiNotFound;
  *table = reinterpret_cast<EFI_ACPI_SDT_HEADER*>(tables[index].data());
  *version = 2;
  *key = index + 1;
  return kEfiSuccess;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL*, const CHAR16* text) {
  std::string utf8;
  for (; *text != 0; ++text) AppendUtf8(utf8, *text);
  M().AppendConsole(utf8.data(), utf8.size());
  return kEfiSuccess;
}

EFI_STATUS EFIAPI EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL*, BOOLEAN visible) {
  M().report().cursor_visible = visible != 0;
  M().report().cursor_calls.push_back(visible != 0);
  return kEfiSuccess;
}

std::vector<uint8_t> AcpiTable(const char* signature, uint32_t length) {
  std::vector<uint8_t> table(length, 0);
  std::memcpy(table.data(), signature, 4);
  std::memcpy(table.data() + 4, &length, 4);
  return table;
}

}  // namespace

void BuildFirmware(Machine& machine) {
  Machine::Impl& impl = machine.impl();
  const Board& board = machine.board();

  EFI_BOOT_SERVICES& bs = impl.boot_services;
  bs.Hdr.Signature = 0x56524553544f4f42ull;  // "BOOTSERV"
  bs.AllocatePages = AllocatePages;
  bs.FreePages = FreePages;
  bs.AllocatePool = AllocatePool;
  bs.FreePool = FreePool;
  bs.HandleProtocol = HandleProtocol;
  bs.Stall = Stall;
  bs.SetWatchdogTimer = SetWatchdogTimer;
  bs.LocateHandleBuffer = LocateHandleBuffer;
  bs.LocateProtocol = LocateProtocol;
  bs.CopyMem = CopyMem;
  bs.SetMem = SetMem;

  impl.console_out.OutputString = OutputString;
  impl.console_out.EnableCursor = EnableCursor;

  EFI_SYSTEM_TABLE& st = impl.system_table;
  st.Hdr.Signature = 0x5453595320494249ull;  // "IBI SYST"
  st.ConOut = &impl.console_out;
  st.StdErr = &impl.console_out;
  st.BootServices = &bs;

  impl.chip_select.IsSupported = IsSupported;
  impl.chip_select.GetActiveChip = GetActiveChip;
  impl.chip_select.SetActiveChip = SetActiveChip;

  impl.acpi_sdt.AcpiVersion = 0x3E;
  impl.acpi_sdt.GetAcpiTable = GetAcpiTable;
  impl.acpi_tables.push_back(AcpiTable("APIC", 0x6C));
  if (board.acpi != AcpiMode::NoFacp) {
    std::vector<uint8_t> fadt = AcpiTable("FACP", 0x114);
    uint32_t smiCommand = board.smi_port;
    std::memcpy(fadt.data() + 48, &smiCommand, 4);
    impl.acpi_tables.push_back(fadt);
  }
  impl.acpi_tables.push_back(AcpiTable("HPET", 0x38));

  impl.pci_functions.resize(board.pci.size());
  for (size_t i = 0; i < board.pci.size(); ++i) {
    impl.pci_functions[i].protocol.Pci.Read = PciRead;
    impl.pci_functions[i].index = i;
  }
}

EFI_SYSTEM_TABLE* SystemTableOf(Machine& machine) { return &machine.impl().system_table; }

}  // namespace sim
