// SPDX-License-Identifier: BSD-2-Clause-Patent
// Console text for the real firmware: UTF-16 through ConOut, with "\n" sent as
// "\r\n". Each Print call is flushed as a whole, so text printed through
// ConOut directly keeps its place.
#include "runtime/efi_globals.h"
#include "runtime/print.h"

namespace {

CHAR16 pending[256];
unsigned pendingLength = 0;

void Flush() {
  if (pendingLength == 0) return;
  pending[pendingLength] = 0;
  gST->ConOut->OutputString(gST->ConOut, pending);
  pendingLength = 0;
}

void Put(CHAR16 character) {
  if (pendingLength + 1 >= sizeof pending / sizeof pending[0]) Flush();
  pending[pendingLength++] = character;
}

}  // namespace

void WriteConsoleText(const char* text, unsigned length) {
  if (length == 0) {
    Flush();
    return;
  }
  for (unsigned i = 0; i < length; ++i) {
    char character = text[i];
    if (character == '\n') Put(u'\r');
    Put(static_cast<CHAR16>(static_cast<uint8_t>(character)));
  }
}
