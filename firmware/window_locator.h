// SPDX-License-Identifier: BSD-2-Clause-Patent
// Reading the identity descriptor straight from the memory-mapped flash
// window, without reading the chip into memory (the simple test).
#pragma once

#include "image/bios_info.h"

// Examines the 2047 volume positions from 0xFFFFF000 down in 4 KiB steps and,
// in each volume, the 4-byte aligned positions for "$BDR" with its second
// signature. Every match overwrites the texts and the carried values, so the
// lowest volume that holds a descriptor wins. Only PartNumber, Version,
// ModelName, AuxWord, AuxByte1, AuxByte2 and AuxWord2 are written.
void LocateDescriptorInWindow(BiosInfo* info);
