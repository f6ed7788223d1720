// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's serial number from the firmware's SMBIOS structure table: the
// system's (type 1), else the baseboard's (type 2), for RESULT.TXT.
#pragma once

#include <stdint.h>

// Walks `length` bytes of structures; writes the serial's printable text
// (other bytes as '?') into `out` of `capacity` bytes, "" when there is none.
// Never reads past the table, whatever its lengths claim.
void FindSmbiosSerial(const uint8_t* table, uint64_t length, char* out, unsigned capacity);
