// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/uefi/firmware_services.h"

#include "runtime/efi_globals.h"
#include "runtime/efi_runtime_services.h"
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

void FirmwareDateText(char* out) {
  out[0] = '\0';
  EFI_TIME time = {};
  if (Runtime() == nullptr || EfiError(Runtime()->GetTime(&time, nullptr))) return;
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
