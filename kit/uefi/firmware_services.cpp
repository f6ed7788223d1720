// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/uefi/firmware_services.h"

#include "kit/smbios_serial.h"
#include "runtime/efi_globals.h"
#include "runtime/efi_shell.h"
#include "runtime/print.h"

namespace {

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_STATUS(EFIAPI* GetTime)(EFI_TIME* time, void* capabilities);
  void* SetTime;
  void* GetWakeupTime;
  void* SetWakeupTime;
  void* SetVirtualAddressMap;
  void* ConvertPointer;
  EFI_STATUS(EFIAPI* GetVariable)
  (const CHAR16* name, const EFI_GUID* vendor, uint32_t* attributes, UINTN* dataSize, void* data);
  void* GetNextVariableName;
  void* SetVariable;
  void* GetNextHighMonotonicCount;
  void(EFIAPI* ResetSystem)(uint32_t resetType, EFI_STATUS status, UINTN dataSize, void* data);
};
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72);
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 104);

struct EFI_INPUT_KEY {
  uint16_t ScanCode;
  CHAR16 UnicodeChar;
};

struct EFI_SIMPLE_TEXT_INPUT_PROTOCOL {
  EFI_STATUS(EFIAPI* Reset)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL* self, BOOLEAN extended);
  EFI_STATUS(EFIAPI* ReadKeyStroke)(EFI_SIMPLE_TEXT_INPUT_PROTOCOL* self, EFI_INPUT_KEY* key);
  EFI_EVENT WaitForKey;
};

using SetAttributeCall = EFI_STATUS(EFIAPI*)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, UINTN attribute);
using ClearScreenCall = EFI_STATUS(EFIAPI*)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self);
using WaitForEventCall = EFI_STATUS(EFIAPI*)(UINTN count, EFI_EVENT* events, UINTN* index);

constexpr EFI_GUID kGlobalVariableGuid = {0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};

constexpr EFI_GUID kSmbiosTableGuid = {0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr EFI_GUID kSmbios3TableGuid = {0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void* VendorTable;
};

constexpr UINTN kLightGray = 0x07;
constexpr UINTN kLightGreen = 0x0A;
constexpr UINTN kWhiteOnRed = 0x4F;
constexpr uint32_t kResetCold = 0;

EFI_RUNTIME_SERVICES* Runtime() { return static_cast<EFI_RUNTIME_SERVICES*>(gST->RuntimeServices); }

void SetColour(UINTN attribute) {
  auto setAttribute = reinterpret_cast<SetAttributeCall>(gST->ConOut->SetAttribute);
  setAttribute(gST->ConOut, attribute);
}

void TwoDigits(char* out, unsigned value) {
  out[0] = static_cast<char>('0' + value / 10 % 10);
  out[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

int16_t FirmwareDateText(char* out) {
  out[0] = '\0';
  EFI_TIME time = {};
  if (Runtime() == nullptr || EfiError(Runtime()->GetTime(&time, nullptr))) return kZoneLocal;
  TwoDigits(out, time.Year / 100);
  TwoDigits(out + 2, time.Year % 100);
  out[4] = '-';
  TwoDigits(out + 5, time.Month);
  out[7] = '-';
  TwoDigits(out + 8, time.Day);
  out[10] = ' ';
  TwoDigits(out + 11, time.Hour);
  out[13] = ':';
  TwoDigits(out + 14, time.Minute);
  out[16] = ':';
  TwoDigits(out + 17, time.Second);
  out[19] = '\0';
  // -1440..1440 minutes, or unspecified: the firmware's local time.
  return time.TimeZone >= -1440 && time.TimeZone <= 1440 ? time.TimeZone : kZoneLocal;
}

void SmbiosSerialText(char* out, unsigned capacity) {
  out[0] = '\0';
  const auto* tables = static_cast<const EFI_CONFIGURATION_TABLE*>(gST->ConfigurationTable);
  for (UINTN i = 0; tables != nullptr && i < gST->NumberOfTableEntries; ++i) {
    const auto* entry = static_cast<const uint8_t*>(tables[i].VendorTable);
    if (entry == nullptr) continue;
    uint64_t address = 0;
    uint64_t length = 0;
    // The 64-bit entry point (_SM3_) gives the table's greatest size, the
    // 32-bit one (_SM_) its exact length.
    if (SameGuid(tables[i].VendorGuid, kSmbios3TableGuid)) {
      for (unsigned b = 0; b < 8; ++b) address |= static_cast<uint64_t>(entry[0x10 + b]) << (8 * b);
      for (unsigned b = 0; b < 4; ++b) length |= static_cast<uint64_t>(entry[0x0C + b]) << (8 * b);
    } else if (SameGuid(tables[i].VendorGuid, kSmbiosTableGuid)) {
      for (unsigned b = 0; b < 4; ++b) address |= static_cast<uint64_t>(entry[0x18 + b]) << (8 * b);
      length = entry[0x16] | entry[0x17] << 8;
    } else {
      continue;
    }
    if (address == 0 || length == 0) continue;
    FindSmbiosSerial(reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address)), length, out, capacity);
    if (out[0] != '\0') return;
  }
}

bool SecureBootIsOn() {
  uint8_t value = 0;
  UINTN size = sizeof value;
  if (Runtime() == nullptr) return false;
  return !EfiError(Runtime()->GetVariable(u"SecureBoot", &kGlobalVariableGuid, nullptr, &size, &value)) && value == 1;
}

void ClearTextScreen() {
  SetColour(kLightGray);
  reinterpret_cast<ClearScreenCall>(gST->ConOut->ClearScreen)(gST->ConOut);
}

void ShowFinalScreen(const FinalScreen& screen) {
  ClearTextScreen();
  const char* text = screen.Text.Data;
  for (unsigned line = 0; *text != '\0'; ++line) {
    const char* end = text;
    while (*end != '\0' && *end != '\n') ++end;
    ScreenTone tone = line < kScreenRows ? screen.Tones[line] : ScreenTone::Plain;
    SetColour(tone == ScreenTone::Good ? kLightGreen : tone == ScreenTone::Bad ? kWhiteOnRed : kLightGray);
    // Straight to the screen: the log has this text already.
    WriteConsoleText(text, static_cast<unsigned>(end - text));
    WriteConsoleText("", 0);
    SetColour(kLightGray);
    WriteConsoleText("\n", 1);
    WriteConsoleText("", 0);
    text = *end == '\n' ? end + 1 : end;
  }
}

void WaitForKeyThenRestart() {
  auto* input = static_cast<EFI_SIMPLE_TEXT_INPUT_PROTOCOL*>(gST->ConIn);
  if (input != nullptr) {
    // A key pressed during the test does not count.
    input->Reset(input, 0);
    auto waitForEvent = reinterpret_cast<WaitForEventCall>(gBS->WaitForEvent);
    UINTN index = 0;
    EFI_INPUT_KEY key = {};
    EFI_EVENT event = input->WaitForKey;
    for (;;) {
      waitForEvent(1, &event, &index);
      if (!EfiError(input->ReadKeyStroke(input, &key))) break;
    }
  }
  if (Runtime() != nullptr) Runtime()->ResetSystem(kResetCold, kEfiSuccess, 0, nullptr);
}
