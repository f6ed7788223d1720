// SPDX-License-Identifier: BSD-2-Clause-Patent
// The memory functions that the compiler and the tool expect; there is no C
// library under UEFI.
#include "runtime/memory.h"

#include <stdint.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
  auto* out = static_cast<uint8_t*>(destination);
  auto* in = static_cast<const uint8_t*>(source);
  for (; count >= 8; count -= 8, out += 8, in += 8) {
    uint64_t word;
    __builtin_memcpy_inline(&word, in, 8);
    __builtin_memcpy_inline(out, &word, 8);
  }
  while (count-- != 0) *out++ = *in++;
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  auto* out = static_cast<uint8_t*>(destination);
  auto* in = static_cast<const uint8_t*>(source);
  if (out <= in || out >= in + count) return memcpy(destination, source, count);
  while (count-- != 0) out[count] = in[count];
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  auto* out = static_cast<uint8_t*>(destination);
  uint64_t pattern = 0x0101010101010101ull * static_cast<uint8_t>(value);
  for (; count >= 8; count -= 8, out += 8) __builtin_memcpy_inline(out, &pattern, 8);
  while (count-- != 0) *out++ = static_cast<uint8_t>(value);
  return destination;
}

int memcmp(const void* a, const void* b, size_t count) {
  auto* left = static_cast<const uint8_t*>(a);
  auto* right = static_cast<const uint8_t*>(b);
  for (; count >= 8; count -= 8, left += 8, right += 8) {
    uint64_t x, y;
    __builtin_memcpy_inline(&x, left, 8);
    __builtin_memcpy_inline(&y, right, 8);
    if (x != y) break;
  }
  for (; count != 0; --count, ++left, ++right)
    if (*left != *right) return *left < *right ? -1 : 1;
  return 0;
}

void* memchr(const void* source, int value, size_t count) {
  auto* in = static_cast<const uint8_t*>(source);
  for (; count != 0; --count, ++in)
    if (*in == static_cast<uint8_t>(value)) return const_cast<uint8_t*>(in);
  return nullptr;
}

}  // extern "C"
