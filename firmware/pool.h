// SPDX-License-Identifier: BSD-2-Clause-Patent
// Boot-services pool memory: every buffer the tool uses comes from here.
#pragma once

#include <stdint.h>

// Allocate `size` bytes of boot-services data and fill them with 0x00 or 0xFF.
// Null when the pool refuses; nothing is filled then.
void* AllocateZeroed(uint64_t size);
void* AllocateErased(uint64_t size);

// A whole flash part's buffer, erased: `flashSize` rounded up to a whole
// block, since the reader moves whole blocks. `*bufferSize` gets that size.
uint8_t* AllocateWholePart(uint32_t flashSize, uint32_t blockSize, uint64_t* bufferSize);

// Returns a buffer to the pool; null is ignored.
void ReleasePool(void* buffer);
