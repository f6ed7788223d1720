// The memory-mapped flash window: the active chip's BIOS region at the top of
// the 4 GiB physical address space.
#pragma once

#include <stdint.h>

// Copies `count` bytes from physical window address `address` to `destination`.
// Bytes at or above 4 GiB do not exist; the copy stops at the top.
void ReadFlashWindow(uint32_t address, void* destination, uint32_t count);

// One little-endian 32-bit load at a 4-byte aligned window address.
uint32_t ReadFlashWindow32(uint32_t address);
