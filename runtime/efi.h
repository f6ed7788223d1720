// SPDX-License-Identifier: BSD-2-Clause-Patent
// UEFI definitions used by the tool: the base types, the system table and the
// boot services, laid out as the UEFI standard places them; each protocol has
// a header of its own beside this one (efi_acpi_sdt.h, efi_pci_io.h,
// efi_shell.h, efi_file_system.h, efi_simple_text_input.h,
// efi_runtime_services.h). Only the members the tool touches are
// typed; unused ones are kept as opaque pointers so that every offset holds,
// and static_asserts pin the layout on both builds.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Firmware calls use the Microsoft x64 convention. The host build keeps the
// same convention so that the simulated firmware is called exactly as the real
// one would be.
#define EFIAPI __attribute__((ms_abi))

using EFI_STATUS = uint64_t;
using EFI_HANDLE = void*;
using EFI_EVENT = void*;
using BOOLEAN = uint8_t;
using CHAR16 = char16_t;
using UINTN = uint64_t;

constexpr EFI_STATUS kEfiSuccess = 0;
constexpr EFI_STATUS kEfiErrorBit = 0x8000000000000000ull;
constexpr EFI_STATUS kEfiInvalidParameter = kEfiErrorBit | 2;
constexpr EFI_STATUS kEfiUnsupported = kEfiErrorBit | 3;
constexpr EFI_STATUS kEfiDeviceError = kEfiErrorBit | 7;
constexpr EFI_STATUS kEfiOutOfResources = kEfiErrorBit | 9;
constexpr EFI_STATUS kEfiNotFound = kEfiErrorBit | 14;

inline bool EfiError(EFI_STATUS status) { return (status & kEfiErrorBit) != 0; }

struct EFI_GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

inline bool SameGuid(const EFI_GUID& a, const EFI_GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

struct EFI_TABLE_HEADER {
  uint64_t Signature;
  uint32_t Revision;
  uint32_t HeaderSize;
  uint32_t CRC32;
  uint32_t Reserved;
};

enum EFI_MEMORY_TYPE : uint32_t {
  EfiLoaderData = 2,
  EfiBootServicesData = 4,
};

enum EFI_ALLOCATE_TYPE : uint32_t {
  AllocateAnyPages = 0,
  AllocateMaxAddress = 1,
  AllocateAddress = 2,
};

enum EFI_LOCATE_SEARCH_TYPE : uint32_t {
  AllHandles = 0,
  ByRegisterNotify = 1,
  ByProtocol = 2,
};

using EFI_PHYSICAL_ADDRESS = uint64_t;

// A calendar time as the firmware keeps it. TimeZone is minutes from UTC, or
// kEfiUnspecifiedTimeZone when the clock is local time of no stated zone.
struct EFI_TIME {
  uint16_t Year;
  uint8_t Month;
  uint8_t Day;
  uint8_t Hour;
  uint8_t Minute;
  uint8_t Second;
  uint8_t Pad1;
  uint32_t Nanosecond;
  int16_t TimeZone;
  uint8_t Daylight;
  uint8_t Pad2;
};
constexpr int16_t kEfiUnspecifiedTimeZone = 0x07FF;

// Declared in their own headers (efi_simple_text_input.h,
// efi_runtime_services.h); the system table only points at them.
struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL;
struct EFI_RUNTIME_SERVICES;

// One entry of the system table's configuration table: a table the firmware
// publishes (SMBIOS, ACPI) by its GUID.
struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void* VendorTable;
};

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  void* Reset;
  EFI_STATUS(EFIAPI* OutputString)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, const CHAR16* text);
  void* TestString;
  void* QueryMode;
  void* SetMode;
  EFI_STATUS(EFIAPI* SetAttribute)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, UINTN attribute);
  EFI_STATUS(EFIAPI* ClearScreen)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self);
  void* SetCursorPosition;
  EFI_STATUS(EFIAPI* EnableCursor)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, BOOLEAN visible);
  void* Mode;
};

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void* RaiseTPL;
  void* RestoreTPL;
  EFI_STATUS(EFIAPI* AllocatePages)
  (EFI_ALLOCATE_TYPE type, EFI_MEMORY_TYPE memoryType, UINTN pages, EFI_PHYSICAL_ADDRESS* memory);
  EFI_STATUS(EFIAPI* FreePages)(EFI_PHYSICAL_ADDRESS memory, UINTN pages);
  void* GetMemoryMap;
  EFI_STATUS(EFIAPI* AllocatePool)(EFI_MEMORY_TYPE poolType, UINTN size, void** buffer);
  EFI_STATUS(EFIAPI* FreePool)(void* buffer);
  void* CreateEvent;
  void* SetTimer;
  EFI_STATUS(EFIAPI* WaitForEvent)(UINTN count, EFI_EVENT* events, UINTN* index);
  void* SignalEvent;
  void* CloseEvent;
  void* CheckEvent;
  void* InstallProtocolInterface;
  void* ReinstallProtocolInterface;
  void* UninstallProtocolInterface;
  EFI_STATUS(EFIAPI* HandleProtocol)(EFI_HANDLE handle, const EFI_GUID* protocol, void** interface);
  void* Reserved;
  void* RegisterProtocolNotify;
  void* LocateHandle;
  void* LocateDevicePath;
  void* InstallConfigurationTable;
  EFI_STATUS(EFIAPI* LoadImage)
  (BOOLEAN bootPolicy, EFI_HANDLE parentImage, void* devicePath, void* sourceBuffer, UINTN sourceSize,
   EFI_HANDLE* imageHandle);
  EFI_STATUS(EFIAPI* StartImage)(EFI_HANDLE imageHandle, UINTN* exitDataSize, CHAR16** exitData);
  void* Exit;
  void* UnloadImage;
  void* ExitBootServices;
  void* GetNextMonotonicCount;
  EFI_STATUS(EFIAPI* Stall)(UINTN microseconds);
  EFI_STATUS(EFIAPI* SetWatchdogTimer)(UINTN timeout, uint64_t watchdogCode, UINTN dataSize, CHAR16* data);
  void* ConnectController;
  void* DisconnectController;
  void* OpenProtocol;
  void* CloseProtocol;
  void* OpenProtocolInformation;
  void* ProtocolsPerHandle;
  EFI_STATUS(EFIAPI* LocateHandleBuffer)
  (EFI_LOCATE_SEARCH_TYPE searchType, const EFI_GUID* protocol, void* searchKey, UINTN* handleCount,
   EFI_HANDLE** buffer);
  EFI_STATUS(EFIAPI* LocateProtocol)(const EFI_GUID* protocol, void* registration, void** interface);
  void* InstallMultipleProtocolInterfaces;
  void* UninstallMultipleProtocolInterfaces;
  void* CalculateCrc32;
  void(EFIAPI* CopyMem)(void* destination, const void* source, UINTN length);
  void(EFIAPI* SetMem)(void* buffer, UINTN size, uint8_t value);
  void* CreateEventEx;
};

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16* FirmwareVendor;
  uint32_t FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL* ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* StdErr;
  EFI_RUNTIME_SERVICES* RuntimeServices;
  EFI_BOOT_SERVICES* BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE* ConfigurationTable;
};

static_assert(sizeof(EFI_GUID) == 16);
static_assert(sizeof(EFI_TABLE_HEADER) == 24);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetAttribute) == 40);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, ClearScreen) == 48);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, EnableCursor) == 64);
static_assert(offsetof(EFI_BOOT_SERVICES, WaitForEvent) == 96);
static_assert(sizeof(EFI_TIME) == 16);
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePages) == 40);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePages) == 48);
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72);
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 152);
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200);
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208);
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248);
static_assert(offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320);
static_assert(offsetof(EFI_BOOT_SERVICES, CopyMem) == 352);
static_assert(offsetof(EFI_BOOT_SERVICES, SetMem) == 360);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
