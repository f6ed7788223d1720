// SPDX-License-Identifier: BSD-2-Clause-Patent
// The descriptor's checksum table: per-range 32-bit word sums, scrambled by
// rotations that depend on the entry's place in the table.
#pragma once

#include <stdint.h>

// True when every range listed in the descriptor's checksum table sums to its
// stored value, each sum taken as if every Checksum field of the table were
// zero. False for a descriptor with bad signatures, a table that does not fit
// in the buffer, a range that leaves it, or any mismatch; true when the table
// is not in force. `image` holds the top `length` bytes of the 4 GiB flash
// window. The buffer is only read: a dump saved afterwards is the chip's
// content, whatever its table holds.
bool VerifyDescriptorChecksums(uint8_t* image, uint32_t length, const uint8_t* descriptor);

enum class ChecksumEntryResult : uint8_t { Holds, Differs, OutsideImage };

// One entry of the table, summed as VerifyDescriptorChecksums sums it;
// `computed` receives the scrambled sum (0 when it cannot be taken).
// OutsideImage also when the descriptor, the table or the index is not valid.
ChecksumEntryResult CheckChecksumEntry(const uint8_t* image, uint32_t length, const uint8_t* descriptor, uint32_t index,
                                       uint32_t* computed);

// Rotates each byte of `sum` right within itself (by 1, 2, 3 and 4 bits from
// the least significant byte up), then the word right by index mod 32.
uint32_t ScrambleSum(uint32_t sum, uint32_t index);

// Sum of `count` bytes, modulo 256 (only the low 8 bits are meaningful).
uint32_t ByteSum(const uint8_t* bytes, uint64_t count);

// Sum modulo 2^32 of the little-endian 32-bit words at bytes, bytes + 4, ...
uint32_t WordSum32(const uint8_t* bytes, uint64_t words);
