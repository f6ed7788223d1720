// UEFI definitions used by the tool: only the structures and members it
// touches, laid out as the UEFI, PI and UEFI Shell standards place them.
// Unused members are kept as opaque pointers so that every offset holds;
// the static_asserts at the end pin the layout on both builds.
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

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  void* Reset;
  EFI_STATUS(EFIAPI* OutputString)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, const CHAR16* text);
  void* TestString;
  void* QueryMode;
  void* SetMode;
  void* SetAttribute;
  void* ClearScreen;
  void* SetCursorPosition;
  EFI_STATUS(EFIAPI* EnableCursor)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, BOOLEAN visible);
  void* Mode;
};

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void* RaiseTPL;
  void* RestoreTPL;
  EFI_STATUS(EFIAPI* AllocatePages)(EFI_ALLOCATE_TYPE type, EFI_MEMORY_TYPE memoryType, UINTN pages,
                                    EFI_PHYSICAL_ADDRESS* memory);
  EFI_STATUS(EFIAPI* FreePages)(EFI_PHYSICAL_ADDRESS memory, UINTN pages);
  void* GetMemoryMap;
  EFI_STATUS(EFIAPI* AllocatePool)(EFI_MEMORY_TYPE poolType, UINTN size, void** buffer);
  EFI_STATUS(EFIAPI* FreePool)(void* buffer);
  void* CreateEvent;
  void* SetTimer;
  void* WaitForEvent;
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
  EFI_STATUS(EFIAPI* LoadImage)(BOOLEAN bootPolicy, EFI_HANDLE parentImage, void* devicePath, void* sourceBuffer,
                                UINTN sourceSize, EFI_HANDLE* imageHandle);
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
  EFI_STATUS(EFIAPI* LocateHandleBuffer)(EFI_LOCATE_SEARCH_TYPE searchType, const EFI_GUID* protocol,
                                         void* searchKey, UINTN* handleCount, EFI_HANDLE** buffer);
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
  void* ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* StdErr;
  void* RuntimeServices;
  EFI_BOOT_SERVICES* BootServices;
  UINTN NumberOfTableEntries;
  void* ConfigurationTable;
};

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
  EFI_STATUS(EFIAPI* GetAcpiTable)(UINTN index, EFI_ACPI_SDT_HEADER** table,
                                   EFI_ACPI_TABLE_VERSION* version, UINTN* tableKey);
  void* RegisterNotify;
  void* Open;
  void* OpenSdt;
  void* Close;
  void* GetChild;
  void* GetOption;
  void* SetOption;
  void* FindPath;
};

// PCI I/O protocol: only the configuration-space read is used.
enum EFI_PCI_IO_PROTOCOL_WIDTH : uint32_t {
  EfiPciIoWidthUint8 = 0,
  EfiPciIoWidthUint16 = 1,
  EfiPciIoWidthUint32 = 2,
};

struct EFI_PCI_IO_PROTOCOL;
struct EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS {
  EFI_STATUS(EFIAPI* Read)(EFI_PCI_IO_PROTOCOL* self, EFI_PCI_IO_PROTOCOL_WIDTH width, uint32_t offset,
                           UINTN count, void* buffer);
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

// Shell protocols: the argument list and the file functions.
struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16** Argv;
  UINTN Argc;
  void* StdIn;
  void* StdOut;
  void* StdErr;
};

using SHELL_FILE_HANDLE = void*;

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

// A file's information; FileName is a NUL-terminated name of variable length,
// and Size counts the whole structure with it. Setting it with another
// FileName renames the file.
struct EFI_FILE_INFO {
  uint64_t Size;
  uint64_t FileSize;
  uint64_t PhysicalSize;
  EFI_TIME CreateTime;
  EFI_TIME LastAccessTime;
  EFI_TIME ModificationTime;
  uint64_t Attribute;
  CHAR16 FileName[1];
};

struct EFI_SHELL_PROTOCOL {
  void* Execute;
  void* GetEnv;
  void* SetEnv;
  void* GetAlias;
  void* SetAlias;
  void* GetHelpText;
  void* GetDevicePathFromMap;
  void* GetMapFromDevicePath;
  void* GetDevicePathFromFilePath;
  void* GetFilePathFromDevicePath;
  void* SetMap;
  void* GetCurDir;
  void* SetCurDir;
  void* OpenFileList;
  void* FreeFileList;
  void* RemoveDupInFileList;
  void* BatchIsActive;
  void* IsRootShell;
  void* EnablePageBreak;
  void* DisablePageBreak;
  void* GetPageBreak;
  void* GetDeviceName;
  EFI_FILE_INFO*(EFIAPI* GetFileInfo)(SHELL_FILE_HANDLE handle);
  EFI_STATUS(EFIAPI* SetFileInfo)(SHELL_FILE_HANDLE handle, const EFI_FILE_INFO* info);
  EFI_STATUS(EFIAPI* OpenFileByName)(const CHAR16* fileName, SHELL_FILE_HANDLE* handle, uint64_t openMode);
  EFI_STATUS(EFIAPI* CloseFile)(SHELL_FILE_HANDLE handle);
  EFI_STATUS(EFIAPI* CreateFile)(const CHAR16* fileName, uint64_t fileAttributes, SHELL_FILE_HANDLE* handle);
  EFI_STATUS(EFIAPI* ReadFile)(SHELL_FILE_HANDLE handle, UINTN* bufferSize, void* buffer);
  EFI_STATUS(EFIAPI* WriteFile)(SHELL_FILE_HANDLE handle, UINTN* bufferSize, void* buffer);
  void* DeleteFile;
  EFI_STATUS(EFIAPI* DeleteFileByName)(const CHAR16* fileName);
  void* GetFilePosition;
  void* SetFilePosition;
  void* FlushFile;
  void* FindFiles;
  void* FindFilesInDir;
  EFI_STATUS(EFIAPI* GetFileSize)(SHELL_FILE_HANDLE handle, uint64_t* size);
};

constexpr uint64_t kEfiFileModeRead = 0x1;
constexpr uint64_t kEfiFileModeWrite = 0x2;
constexpr uint64_t kEfiFileModeCreate = 0x8000000000000000ull;

// The board's chip-select protocol. Its first four entries are not used; the
// three members are called without the interface pointer.
struct ChipSelectProtocol {
  void* Reserved[4];
  BOOLEAN(EFIAPI* IsSupported)();
  uint8_t(EFIAPI* GetActiveChip)();
  void(EFIAPI* SetActiveChip)(uint8_t chip);
};

inline constexpr EFI_GUID kChipSelectProtocolGuid = {
    0x73212BFD, 0xFB9C, 0x492B, {0xBA, 0xD6, 0x01, 0x14, 0xB3, 0x9B, 0xAB, 0x35}};
inline constexpr EFI_GUID kAcpiSdtProtocolGuid = {
    0xEB97088E, 0xCFDF, 0x49C6, {0xBE, 0x4B, 0xD9, 0x06, 0xA5, 0xB2, 0x0E, 0x86}};
inline constexpr EFI_GUID kPciIoProtocolGuid = {
    0x4CF5B200, 0x68B8, 0x4CA5, {0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A}};
inline constexpr EFI_GUID kShellParametersProtocolGuid = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};
inline constexpr EFI_GUID kShellProtocolGuid = {
    0x6302D008, 0x7F9B, 0x4F30, {0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E}};

static_assert(sizeof(EFI_GUID) == 16);
static_assert(sizeof(EFI_TABLE_HEADER) == 24);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, EnableCursor) == 64);
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
static_assert(sizeof(EFI_ACPI_SDT_HEADER) == 36);
static_assert(offsetof(EFI_ACPI_SDT_PROTOCOL, GetAcpiTable) == 8);
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48);
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8);
static_assert(sizeof(EFI_TIME) == 16);
static_assert(offsetof(EFI_FILE_INFO, FileName) == 80);
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileInfo) == 22 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, SetFileInfo) == 23 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 24 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, CreateFile) == 26 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, ReadFile) == 27 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 28 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, DeleteFileByName) == 30 * 8);
static_assert(offsetof(EFI_SHELL_PROTOCOL, GetFileSize) == 36 * 8);
static_assert(offsetof(ChipSelectProtocol, IsSupported) == 32);
static_assert(offsetof(ChipSelectProtocol, GetActiveChip) == 40);
static_assert(offsetof(ChipSelectProtocol, SetActiveChip) == 48);
