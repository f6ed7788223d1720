// SPDX-License-Identifier: BSD-2-Clause-Patent
// Walking the firmware volumes of an image and the files inside one volume,
// for tools that explain where a byte of an image belongs. Every structure
// read is bounds-checked against the image; nothing is written.
#pragma once

#include <stdint.h>

// File system GUID of the volume that holds a VSS/VSS2 variable store
// ({FFF12B8D-7696-4C8B-A985-2747075B4F50}, in-memory byte order).
inline constexpr uint8_t kVariableStoreVolumeGuid[16] = {0x8D, 0x2B, 0xF1, 0xFF, 0x96, 0x76, 0x8B, 0x4C,
                                                         0xA9, 0x85, 0x27, 0x47, 0x07, 0x5B, 0x4F, 0x50};

// Offsets are counted from the image's first byte.
struct FirmwareVolume {
  uint64_t Offset;
  uint64_t Length;          // FvLength, clipped to the image
  uint64_t DeclaredLength;  // FvLength as the header states it
  uint32_t HeaderLength;
  bool HeaderSumHolds;
  bool HasName;  // an extended header inside the image supplies the name
  uint8_t Name[16];
  uint8_t FileSystem[16];
};

struct FirmwareFile {
  uint64_t Offset;
  uint32_t Size;  // including the 24-byte header; lies inside the volume
  uint8_t Name[16];
  uint8_t Type;
  uint8_t Attributes;
  uint8_t State;
  bool Checksummed;  // attribute 0x40: the sums are in force
  bool SumsHold;     // header and data sums, as the descriptor search checks them
};

// Reads the volume header at `offset`. False when there is no "_FVH"
// signature there or the fixed header does not fit in the image.
bool ReadFirmwareVolume(const uint8_t* image, uint64_t size, uint64_t offset, FirmwareVolume* volume);

// The first volume at or above `from` (a multiple of 4096 from the image's
// start) found by stepping 4 KiB at a time. False when none is left.
bool FindFirmwareVolume(const uint8_t* image, uint64_t size, uint64_t from, FirmwareVolume* volume);

// Iterates over the files of `volume`; `*cursor` starts at 0 and is advanced
// past each file returned. False at erased space, a zero size, the volume's
// end, or a file whose header or length leaves the volume; then `*cursor`
// holds the offset (from the volume start) where the files end.
bool NextVolumeFile(const uint8_t* image, const FirmwareVolume& volume, uint64_t* cursor, FirmwareFile* file);

// Copies the name from the file's first uncompressed user-interface section
// as ASCII ('?' for other characters), NUL-terminated, at most capacity - 1
// characters. Returns false when the file has no such section.
bool FileUserInterfaceName(const uint8_t* image, const FirmwareFile& file, char* name, uint32_t capacity);

// 16-bit sum of the volume header, which must lie within `available` bytes.
bool VolumeHeaderSumIsZero(const uint8_t* volume, uint64_t available);

// The header sum (State and the data checksum left out) and the data sum of
// a file of `size` bytes.
bool FileSumsHold(const uint8_t* file, uint32_t size);
