// SPDX-License-Identifier: BSD-2-Clause-Patent
// Copies a range of the active chip into memory, block by block: BIOS-region
// blocks from the flash window, the rest through the SMI mailbox.
#pragma once

#include "runtime/efi.h"

struct FlashGeometry;

// The reader proper, with the sizes of `geometry` (flash, BIOS and block size;
// the part area is not used). `start` is a flash offset (aligned down to a
// block), `length` a byte count. Whole blocks are transferred, but none is
// written past `capacity` bytes of `destination`, whatever block size the
// mailbox reports. With a caption, a progress line is printed per block and a
// newline at the end. Returns kEfiUnsupported when a size is 0, and
// kEfiDeviceError when a block could not be requested through the mailbox
// (its bytes keep what they held): a partial read is never a success.
EFI_STATUS ReadFlashRegionWith(const FlashGeometry& geometry, void* destination, uint64_t capacity, uint32_t start,
                               uint32_t length, const char* caption);

// The reader's first-use query, in this one place: each size (block, flash,
// BIOS, in that order) that is still 0 when its turn comes has the mailbox
// asked for all three. False when one stays 0.
bool CompleteReaderGeometry(FlashGeometry* geometry);

// The utility's reads: the reader with the run's ReaderGeometry, completed on
// first use. ReadFlashRegion has no capacity limit: `destination` holds
// `length` rounded up to a whole block.
EFI_STATUS ReadFlashRegionInto(void* destination, uint64_t capacity, uint32_t start, uint32_t length,
                               const char* caption);
EFI_STATUS ReadFlashRegion(void* destination, uint32_t start, uint32_t length, const char* caption);
