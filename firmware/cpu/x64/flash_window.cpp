// SPDX-License-Identifier: BSD-2-Clause-Patent
// On the board the window is SPI flash behind uncached memory: every load is a
// bus transaction, so the copy uses aligned 64-bit loads and never reads a
// byte at a time.
#include "firmware/cpu/flash_window.h"

namespace {

uint64_t LoadQword(uint64_t address) {
  return *reinterpret_cast<volatile const uint64_t*>(static_cast<uintptr_t>(address));
}

}  // namespace

void ReadFlashWindow(uint32_t address, void* destination, uint32_t count) {
  uint64_t start = address;
  uint64_t end = start + count;
  if (end > kFourGiB) end = kFourGiB;
  auto* out = static_cast<uint8_t*>(destination);
  uint64_t position = start;
  // Aligned qwords cover the range; partial ones at either end are loaded whole
  // and only their wanted bytes kept. None of them reaches past 4 GiB, since
  // 4 GiB is itself qword aligned.
  while (position < end) {
    uint64_t aligned = position & ~7ull;
    uint64_t value = LoadQword(aligned);
    uint64_t first = position - aligned;
    uint64_t last = end - aligned < 8 ? end - aligned : 8;
    if (first == 0 && last == 8) {
      __builtin_memcpy(out + (position - start), &value, 8);
    } else {
      for (uint64_t i = first; i < last; ++i) out[aligned + i - start] = static_cast<uint8_t>(value >> (8 * i));
    }
    position = aligned + last;
  }
}

uint32_t ReadFlashWindow32(uint32_t address) {
  return *reinterpret_cast<volatile const uint32_t*>(static_cast<uintptr_t>(address));
}
