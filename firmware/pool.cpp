// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/pool.h"

#include "runtime/efi_globals.h"

namespace {

void* AllocateFilled(uint64_t size, uint8_t fill) {
  void* buffer = nullptr;
  if (EfiError(gBS->AllocatePool(EfiBootServicesData, size, &buffer)) || buffer == nullptr) return nullptr;
  gBS->SetMem(buffer, size, fill);
  return buffer;
}

}  // namespace

void* AllocateZeroed(uint64_t size) { return AllocateFilled(size, 0x00); }

void* AllocateErased(uint64_t size) { return AllocateFilled(size, 0xFF); }

void ReleasePool(void* buffer) {
  if (buffer != nullptr) gBS->FreePool(buffer);
}

uint8_t* AllocateWholePart(uint32_t flashSize, uint32_t blockSize, uint64_t* bufferSize) {
  uint64_t size = flashSize;
  if (blockSize != 0 && size % blockSize != 0) size += blockSize - size % blockSize;
  *bufferSize = size;
  return static_cast<uint8_t*>(AllocateErased(size));
}
