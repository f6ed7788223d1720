// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/bounded_text.h"

void CopyBoundedText(char* destination, const char* source, unsigned limit) {
  unsigned i = 0;
  for (; i < limit && source[i] != '\0'; ++i) destination[i] = source[i];
  destination[i] = '\0';
}

void FillBoundedText(char* destination, const char* source, unsigned limit) {
  unsigned i = 0;
  for (; i < limit && source[i] != '\0'; ++i) destination[i] = source[i];
  for (; i < limit; ++i) destination[i] = 0;
}

bool BoundedTextEqual(const char* a, const char* b, unsigned limit) {
  for (unsigned i = 0; i < limit; ++i) {
    if (a[i] != b[i]) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}
