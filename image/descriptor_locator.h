// SPDX-License-Identifier: BSD-2-Clause-Patent
// Finding the "$BDR" identity descriptor in an image held in memory and
// filling the chip's BiosInfo from it.
#pragma once

#include <stdint.h>

#include "image/bios_info.h"
#include "runtime/efi.h"

// Searches info->Image (info->ImageSize bytes, its last byte standing for the
// top of the flash) for the descriptor, volume by volume from the top down.
// Returns 0 and fills the record when found; kEfiNotFound with the not-found
// values when no volume yields one; kEfiUnsupported, record untouched, when
// Image is null, ImageSize is 0, or the first descriptor found is not inside
// the file named kDescriptorFileGuid.
EFI_STATUS LocateDescriptor(BiosInfo* info);

// Walks the files of the volume whose header is at `volume` and checks the
// header and data sums of those that carry checksums. `end` is one past the
// last byte of the buffer; a file reaching past it fails.
bool ValidateVolumeFiles(const uint8_t* volume, const uint8_t* end);
