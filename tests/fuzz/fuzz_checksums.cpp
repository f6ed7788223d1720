// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: descriptor checksum verification. The first two bytes
// choose where in the rest the descriptor is taken to be; the rest is the
// top of the flash window. The buffer must come out unchanged.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "image/checksums.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size - 2 > 0xFFFFFFFFu) return 0;
  const size_t length = size - 2;
  uint8_t* image = static_cast<uint8_t*>(malloc(length ? length : 1));
  memcpy(image, data + 2, length);
  const size_t at = length ? (size_t(data[0]) | size_t(data[1]) << 8) % length : 0;
  VerifyDescriptorChecksums(image, uint32_t(length), image + at);
  if (memcmp(image, data + 2, length) != 0) __builtin_trap();
  free(image);
  return 0;
}
