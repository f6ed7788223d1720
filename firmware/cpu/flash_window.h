// SPDX-License-Identifier: BSD-2-Clause-Patent
// The memory-mapped flash window: the active chip's BIOS region at the top of
// the 4 GiB physical address space.
#pragma once

#include <stdint.h>

// The window ends at the top of the 32-bit address space.
constexpr uint64_t kFourGiB = uint64_t(1) << 32;

// Only the top 16 MiB below 4 GiB decode to flash on real chipsets. Below it
// lie device registers (I/O APIC, HPET, TPM, local APIC) where a load has side
// effects, so nothing reads the window there.
constexpr uint32_t kFlashDecodeFloor = 0xFF000000u;

// Copies `count` bytes from physical window address `address` to `destination`.
// Bytes at or above 4 GiB do not exist; the copy stops at the top.
void ReadFlashWindow(uint32_t address, void* destination, uint32_t count);

// One little-endian 32-bit load at a 4-byte aligned window address.
uint32_t ReadFlashWindow32(uint32_t address);
