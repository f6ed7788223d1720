// Blanking the parts of an image that legitimately differ between the two
// chips, so that a byte-for-byte comparison sees only real differences.
#pragma once

#include <stdint.h>

#include "image/bios_info.h"

// Fills with 0xFF the first firmware volume (scanning upward from the image's
// start) whose first file begins with "NVAR", together with as many bytes
// again after it; clipped to the buffer.
void MaskVariableStore(uint8_t* image, uint64_t length);

// Clears the descriptor's ChipArea and blanks the body of each file of the
// descriptor's volume that the area table lists ("$MAC" and "$FWR" entries
// excepted). Works only inside info->Image .. info->Image + info->ImageSize;
// `image` is the same buffer.
void MaskAreas(uint8_t* image, BiosInfo* info);
