// SPDX-License-Identifier: BSD-2-Clause-Patent
// The per-chip information record and the constants that identify the
// firmware's "$BDR" identity descriptor.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Name of the firmware file whose first section holds the descriptor, in the
// in-memory GUID byte order ({56E14F88-234B-4C34-B204-299670447247}).
inline constexpr uint8_t kDescriptorFileGuid[16] = {0x88, 0x4F, 0xE1, 0x56, 0x4B, 0x23, 0x34, 0x4C,
                                                    0xB2, 0x04, 0x29, 0x96, 0x70, 0x44, 0x72, 0x47};

// One record per chip. Laid out without gaps because it is part of the tool's
// recorded data model; the pointers are views into the caller's image buffer.
#pragma pack(push, 1)
struct BiosInfo {
  uint8_t* Image;
  uint64_t ImageSize;
  uint8_t Found;
  uint8_t* AreaTable;
  uint8_t* Descriptor;
  uint8_t* ChecksumTableRev100;
  uint8_t* ChecksumTableOther;
  uint8_t* Volume;
  uint16_t AuxWord2;
  uint8_t AuxByte3;
  uint32_t FlashSize;
  uint32_t BiosSize;
  uint32_t BlockSize;
  uint8_t HasBiosOffset;
  uint32_t BiosOffset;
  char PartNumber[12];  // 8 characters; the last 4 bytes stay zero
  char Version[8];      // 4 characters; the last 4 bytes stay zero
  char ModelName[36];   // 32 characters; the last 4 bytes stay zero
  char FlashPart[48];   // filled by the comparison test from the mailbox
  uint16_t AuxWord;
  uint8_t AuxByte1;
  uint8_t AuxByte2;
};
#pragma pack(pop)

static_assert(sizeof(void*) == 8, "BiosInfo holds 64-bit pointers");
static_assert(sizeof(BiosInfo) == 185);
static_assert(offsetof(BiosInfo, Image) == 0);
static_assert(offsetof(BiosInfo, ImageSize) == 8);
static_assert(offsetof(BiosInfo, Found) == 16);
static_assert(offsetof(BiosInfo, AreaTable) == 17);
static_assert(offsetof(BiosInfo, Descriptor) == 25);
static_assert(offsetof(BiosInfo, ChecksumTableRev100) == 33);
static_assert(offsetof(BiosInfo, ChecksumTableOther) == 41);
static_assert(offsetof(BiosInfo, Volume) == 49);
static_assert(offsetof(BiosInfo, AuxWord2) == 57);
static_assert(offsetof(BiosInfo, AuxByte3) == 59);
static_assert(offsetof(BiosInfo, FlashSize) == 60);
static_assert(offsetof(BiosInfo, BiosSize) == 64);
static_assert(offsetof(BiosInfo, BlockSize) == 68);
static_assert(offsetof(BiosInfo, HasBiosOffset) == 72);
static_assert(offsetof(BiosInfo, BiosOffset) == 73);
static_assert(offsetof(BiosInfo, PartNumber) == 77);
static_assert(offsetof(BiosInfo, Version) == 89);
static_assert(offsetof(BiosInfo, ModelName) == 97);
static_assert(offsetof(BiosInfo, FlashPart) == 133);
static_assert(offsetof(BiosInfo, AuxWord) == 181);
static_assert(offsetof(BiosInfo, AuxByte1) == 183);
static_assert(offsetof(BiosInfo, AuxByte2) == 184);
