// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/smbios_serial.h"

namespace {

constexpr uint8_t kSystemType = 1;
constexpr uint8_t kBaseboardType = 2;
constexpr uint8_t kEndType = 127;
constexpr unsigned kSerialOffset = 7;  // the serial's string number in both types

// Copies string `number` (from 1) of the set at `strings`; false when the
// set ends first or the string is empty.
bool CopyString(const uint8_t* strings, const uint8_t* end, uint8_t number, char* out, unsigned capacity) {
  if (number == 0) return false;
  const uint8_t* at = strings;
  for (uint8_t i = 1; i < number; ++i) {
    while (at < end && *at != 0) ++at;
    if (at + 1 >= end || at[1] == 0) return false;
    ++at;
  }
  unsigned length = 0;
  for (; at < end && *at != 0 && length + 1 < capacity; ++at)
    out[length++] = *at >= 0x20 && *at < 0x7F ? static_cast<char>(*at) : '?';
  // Trailing blanks are padding some firmware leaves.
  while (length > 0 && out[length - 1] == ' ') --length;
  out[length] = '\0';
  return length != 0;
}

}  // namespace

void FindSmbiosSerial(const uint8_t* table, uint64_t length, char* out, unsigned capacity) {
  out[0] = '\0';
  if (capacity == 0) return;
  char baseboard[65] = "";
  const uint8_t* at = table;
  const uint8_t* end = table + length;
  while (end - at >= 4) {
    uint8_t type = at[0];
    uint8_t formatted = at[1];
    // A structure that does not end within the table ends the walk.
    if (formatted < 4 || formatted > end - at) break;
    const uint8_t* strings = at + formatted;
    const uint8_t* next = strings;
    // The string set ends with two NULs.
    while (end - next >= 2 && !(next[0] == 0 && next[1] == 0)) ++next;
    if (end - next < 2) break;
    if ((type == kSystemType || type == kBaseboardType) && formatted > kSerialOffset) {
      uint8_t number = at[kSerialOffset];
      if (type == kSystemType && CopyString(strings, next + 1, number, out, capacity)) return;
      if (type == kBaseboardType && baseboard[0] == '\0')
        CopyString(strings, next + 1, number, baseboard, sizeof baseboard);
    }
    if (type == kEndType) break;
    at = next + 2;
  }
  unsigned i = 0;
  for (; baseboard[i] != '\0' && i + 1 < capacity; ++i) out[i] = baseboard[i];
  out[i] = '\0';
}
