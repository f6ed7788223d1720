// SPDX-License-Identifier: BSD-2-Clause-Patent
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

// What a masking step is about to overwrite, for tools that report the
// masked areas. `At` and `Count` are the bytes written (already clipped to
// the buffer); `AreaFileName` is the area entry's file name for AreaFile.
enum class MaskKind : uint8_t { VariableStore, ChipArea, AreaFileChecksum, AreaFile };
struct MaskNote {
  MaskKind Kind;
  const uint8_t* At;
  uint64_t Count;
  const uint8_t* AreaFileName;
};
// Called right before the bytes are overwritten.
using MaskNoteFunction = void (*)(void* context, const MaskNote& note);

// The two masks as above, telling `note` about each write before it is made.
void MaskVariableStoreNoting(uint8_t* image, uint64_t length, MaskNoteFunction note, void* context);
void MaskAreasNoting(uint8_t* image, BiosInfo* info, MaskNoteFunction note, void* context);
