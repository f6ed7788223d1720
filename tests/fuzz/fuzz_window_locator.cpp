// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the window search over an arbitrary flash window. The
// input is the window's top bytes, ending at 4 GiB; everything below them
// reads as erased. A read that passes 4 GiB or goes below the flash decode
// is a fault, as it would be on a real board.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "firmware/cpu/flash_window.h"
#include "firmware/window_locator.h"

namespace {

const uint8_t* windowBytes = nullptr;
uint64_t windowSize = 0;

}  // namespace

void ReadFlashWindow(uint32_t address, void* destination, uint32_t count) {
  if (address < kFlashDecodeFloor || uint64_t(address) + count > kFourGiB) __builtin_trap();
  auto* out = static_cast<uint8_t*>(destination);
  const uint64_t mappedFrom = kFourGiB - windowSize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = uint64_t(address) + i;
    out[i] = at >= mappedFrom ? windowBytes[at - mappedFrom] : 0xFF;
  }
}

uint32_t ReadFlashWindow32(uint32_t address) {
  if (address % 4 != 0) __builtin_trap();
  uint32_t value = 0;
  ReadFlashWindow(address, &value, sizeof value);
  return value;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kFourGiB - kFlashDecodeFloor) return 0;
  windowBytes = data;
  windowSize = size;
  BiosInfo info;
  memset(&info, 0xA5, sizeof info);
  const BiosInfo before = info;
  LocateDescriptorInWindow(&info);
  // Only the identity texts and carried values may change.
  if (info.Found != before.Found || info.Descriptor != before.Descriptor || info.Volume != before.Volume ||
      info.FlashSize != before.FlashSize || memcmp(info.FlashPart, before.FlashPart, sizeof info.FlashPart) != 0)
    __builtin_trap();
  return 0;
}
