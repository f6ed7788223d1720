// Copies a range of the active chip into memory, block by block: BIOS-region
// blocks from the flash window, the rest through the SMI mailbox.
#pragma once

#include "runtime/efi.h"

// `start` is a flash offset (aligned down to a block), `length` a byte count.
// Whole blocks are transferred, so `destination` must hold `length` rounded up
// to a whole block. With a caption, a progress line is printed per block and a
// newline at the end. Returns kEfiUnsupported when the geometry is unknown,
// and kEfiDeviceError when a block could not be requested through the mailbox
// (its bytes keep what they held): a partial read is never a success.
EFI_STATUS ReadFlashRegion(void* destination, uint32_t start, uint32_t length, const char* caption);

// The same, for a destination of `capacity` bytes: no transfer writes past it,
// whatever block size the mailbox reports.
EFI_STATUS ReadFlashRegionInto(void* destination, uint64_t capacity, uint32_t start, uint32_t length,
                               const char* caption);
