// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/uefi/firmware_services.h"

#include "kit/smbios_serial.h"
#include "runtime/efi_globals.h"
#include "runtime/efi_runtime_services.h"
#include "runtime/efi_smbios.h"
#include "runtime/efi_simple_text_input.h"
#include "runtime/print.h"

namespace {

constexpr UINTN kLightGray = 0x07;
constexpr UINTN kLightGreen = 0x0A;
constexpr UINTN kWhiteOnRed = 0x4F;

EFI_RUNTIME_SERVICES* Runtime() { return gST->RuntimeServices; }

void SetColour(UINTN attribute) { gST->ConOut->SetAttribute(gST->ConOut, attribute); }

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
  const auto* tables = gST->ConfigurationTable;
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
  return !EfiError(Runtime()->GetVariable(u"SecureBoot", &kEfiGlobalVariableGuid, nullptr, &size, &value)) &&
         value == 1;
}

void ClearTextScreen() {
  SetColour(kLightGray);
  gST->ConOut->ClearScreen(gST->ConOut);
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
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL* input = gST->ConIn;
  if (input != nullptr) {
    // A key pressed during the test does not count.
    input->Reset(input, 0);
    UINTN index = 0;
    EFI_INPUT_KEY key = {};
    EFI_EVENT event = input->WaitForKey;
    for (;;) {
      gBS->WaitForEvent(1, &event, &index);
      if (!EfiError(input->ReadKeyStroke(input, &key))) break;
    }
  }
  if (Runtime() != nullptr) Runtime()->ResetSystem(kEfiResetCold, kEfiSuccess, 0, nullptr);
}
