// SPDX-License-Identifier: BSD-2-Clause-Patent
// Byte-level layout of the structures the image analysis reads: PI firmware
// volumes and files, and the "$BDR" descriptor with its tables. Images come
// from flash chips and are not trusted, so every access goes through the
// little-endian helpers below on byte pointers that the caller has bounds-
// checked; nothing here is cast to a structure type.
#pragma once

#include <stdint.h>

namespace image_layout {

// Unaligned little-endian loads and stores. __builtin_memcpy stays an inline
// move even in the freestanding build, where plain memcpy would be a call.
inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  __builtin_memcpy(&v, p, 2);
  return v;
}
inline uint32_t Load24(const uint8_t* p) { return p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  __builtin_memcpy(&v, p, 8);
  return v;
}

// Firmware volume header.
constexpr uint32_t kFvLength = 32;
constexpr uint32_t kFvSignature = 40;
constexpr uint32_t kFvFileSystem = 16;
constexpr uint32_t kFvHeaderLength = 48;
constexpr uint32_t kFvExtHeaderOffset = 52;
constexpr uint32_t kFvFixedHeaderSize = 56;         // every field above lies below this
constexpr uint32_t kFvSignatureValue = 0x4856465F;  // "_FVH"
constexpr uint32_t kFvExtHeaderSize = 16;           // in the extended header
constexpr uint32_t kVolumeStep = 4096;              // volumes start on 4 KiB boundaries

// Firmware file header.
constexpr uint32_t kFileName = 0;
constexpr uint32_t kFileHeaderChecksum = 16;
constexpr uint32_t kFileDataChecksum = 17;
constexpr uint32_t kFileAttributes = 19;
constexpr uint32_t kFileSize = 20;
constexpr uint32_t kFileState = 23;
constexpr uint32_t kFileHeaderSize = 24;
constexpr uint32_t kSectionHeaderSize = 4;
constexpr uint32_t kLargeSectionHeaderSize = 8;  // 24-bit size 0xFFFFFF, then a 32-bit size
constexpr uint32_t kSectionSizeExtended = 0xFFFFFF;
constexpr uint8_t kSectionUserInterface = 0x15;
constexpr uint8_t kFileAttribChecksum = 0x40;
constexpr uint32_t kFileSizeErased = 0xFFFFFF;
constexpr uint32_t kVariableStoreSignature = 0x5241564E;  // "NVAR", first body bytes of the store's first file

inline uint64_t AlignFile(uint64_t offset) { return (offset + 7) & ~uint64_t(7); }

// "$BDR" descriptor.
constexpr uint32_t kDescriptorSignatureValue = 0x52444224;  // "$BDR"
constexpr uint16_t kDescriptorSignature2Value = 0x5AA5;
constexpr uint32_t kDescSignature2 = 8;
constexpr uint32_t kDescRevision = 10;
constexpr uint32_t kDescFlashSize = 16;
constexpr uint32_t kDescBiosSize = 20;
constexpr uint32_t kDescBlockSize = 24;
constexpr uint32_t kDescPartNumber = 32;
constexpr uint32_t kDescVersion = 40;
constexpr uint32_t kDescAuxWord = 44;
constexpr uint32_t kDescAuxByte1 = 46;
constexpr uint32_t kDescAuxByte2 = 47;
constexpr uint32_t kDescAuxWord2 = 61;
constexpr uint32_t kDescAuxByte3 = 63;
constexpr uint32_t kDescModelName = 64;
constexpr uint32_t kDescChecksumTableOffset = 96;
constexpr uint32_t kDescChecksumCount = 98;
constexpr uint32_t kDescChecksumEnabled = 99;
constexpr uint32_t kDescAreaTableOffset = 100;
constexpr uint32_t kDescAreaCount = 102;
constexpr uint32_t kDescChipArea = 160;
constexpr uint32_t kDescChipAreaSize = 32;
constexpr uint32_t kDescriptorSize = 192;  // through the end of ChipArea
// The descriptor opens the first section of its file: file header plus section header.
constexpr uint32_t kDescriptorFileOffset = kFileHeaderSize + kSectionHeaderSize;

constexpr uint32_t kPartNumberSize = 8;
constexpr uint32_t kVersionSize = 4;
constexpr uint32_t kModelNameSize = 32;

// Checksum table entry.
constexpr uint32_t kChecksumEntrySize = 16;
constexpr uint32_t kChecksumAddress = 0;
constexpr uint32_t kChecksumUnitSize = 4;
constexpr uint32_t kChecksumUnitCount = 8;
constexpr uint32_t kChecksumValue = 12;

// Area table entry.
constexpr uint32_t kAreaEntrySize = 32;
constexpr uint32_t kAreaTag = 0;
constexpr uint32_t kAreaLength = 4;
constexpr uint32_t kAreaFileName = 10;
constexpr uint32_t kAreaTagMac = 0x43414D24;  // "$MAC"
constexpr uint32_t kAreaTagFwr = 0x52574624;  // "$FWR"

// True when [p, p + count) lies inside [begin, end). Written without forming
// p + count, which could overflow for hostile offsets.
inline bool Inside(const uint8_t* begin, const uint8_t* end, const uint8_t* p, uint64_t count) {
  return p >= begin && p <= end && count <= uint64_t(end - p);
}

// A section's length and header size at `section`: the 4-byte header, or the
// 8-byte one whose 32-bit size follows a 24-bit 0xFFFFFF. False when the
// header does not fit in the `available` bytes.
inline bool ReadSectionHeader(const uint8_t* section, uint64_t available, uint64_t* length, uint32_t* header) {
  if (available < kSectionHeaderSize) return false;
  *length = Load24(section);
  *header = kSectionHeaderSize;
  if (*length != kSectionSizeExtended) return true;
  if (available < kLargeSectionHeaderSize) return false;
  *length = Load32(section + kSectionHeaderSize);
  *header = kLargeSectionHeaderSize;
  return true;
}

}  // namespace image_layout
