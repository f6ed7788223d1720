// SPDX-License-Identifier: BSD-2-Clause-Patent
// Where the image builder puts each field of the structures it writes: PI
// firmware volumes, files and sections, the "$BDR" descriptor with its tables,
// variable records and PE32 image headers.
//
// The names are the builder's own and deliberately not taken from
// image/layout.h: the builder is a second reading of the format, written
// apart from the program's, so a wrong offset on either side makes the tests
// fail instead of agreeing with itself.
#pragma once

#include <cstddef>

namespace sim::builder_layout {

// Firmware volume header; the one-entry block map and its terminator end it.
namespace volume {
constexpr size_t kZeroVector = 0;  // 16 bytes
constexpr size_t kFileSystemGuid = 16;
constexpr size_t kLength = 32;  // 64-bit FvLength
constexpr size_t kSignature = 40;
constexpr size_t kAttributes = 44;
constexpr size_t kHeaderLength = 48;
constexpr size_t kChecksum = 50;
constexpr size_t kExtHeaderOffset = 52;
constexpr size_t kReserved = 54;
constexpr size_t kRevision = 55;
constexpr size_t kBlockCount = 56;
constexpr size_t kBlockLength = 60;
constexpr size_t kBlockMapEnd = 64;               // the zero entry that ends the map
constexpr unsigned kSignatureValue = 0x4856465F;  // "_FVH"
constexpr unsigned kRevisionValue = 2;
// The extended header: the volume's name and the header's own size.
constexpr size_t kExtName = 0;
constexpr size_t kExtSize = 16;
constexpr size_t kExtHeaderBytes = 20;
}  // namespace volume

// Firmware file header.
namespace file {
constexpr size_t kName = 0;
constexpr size_t kHeaderChecksum = 16;
constexpr size_t kDataChecksum = 17;
constexpr size_t kType = 18;
constexpr size_t kAttributes = 19;
constexpr size_t kSize = 20;  // 24 bits
constexpr size_t kState = 23;
constexpr size_t kHeaderBytes = 24;
constexpr unsigned kUnsummedDataChecksum = 0xAA;  // data checksum of files without the attribute
constexpr size_t kAlignment = 8;
}  // namespace file

// Section header: 24-bit size including the header, then the type.
namespace section {
constexpr size_t kSize = 0;
constexpr size_t kType = 3;
constexpr size_t kHeaderBytes = 4;
constexpr size_t kLargestSize = 0xFFFFFF;
}  // namespace section

// The "$BDR" descriptor.
namespace descriptor {
constexpr size_t kSignature = 0;
constexpr size_t kSignature2 = 8;
constexpr size_t kRevision = 10;
constexpr size_t kFlashSize = 16;
constexpr size_t kBiosSize = 20;
constexpr size_t kBlockSize = 24;
constexpr size_t kPartNumber = 32;
constexpr size_t kPartNumberWidth = 8;
constexpr size_t kVersion = 40;
constexpr size_t kVersionWidth = 4;
constexpr size_t kAuxWord = 44;
constexpr size_t kAuxByte1 = 46;
constexpr size_t kAuxByte2 = 47;
constexpr size_t kAuxWord2 = 61;
constexpr size_t kAuxByte3 = 63;
constexpr size_t kModelName = 64;
constexpr size_t kModelNameWidth = 32;
constexpr size_t kChecksumTableOffset = 96;
constexpr size_t kChecksumCount = 98;
constexpr size_t kChecksumEnabled = 99;
constexpr size_t kAreaTableOffset = 100;
constexpr size_t kAreaCount = 102;
constexpr size_t kChipArea = 160;
constexpr size_t kChipAreaBytes = 32;
}  // namespace descriptor

// An entry of the descriptor's checksum table.
namespace checksum_entry {
constexpr size_t kAddress = 0;
constexpr size_t kUnitSize = 4;
constexpr size_t kUnitCount = 8;
constexpr size_t kChecksum = 12;
constexpr size_t kBytes = 16;
}  // namespace checksum_entry

// An entry of the descriptor's area table.
namespace area_entry {
constexpr size_t kTag = 0;
constexpr size_t kTagWidth = 4;
constexpr size_t kLength = 4;
constexpr size_t kFile = 10;
constexpr size_t kBytes = 32;
}  // namespace area_entry

// A variable record ("NVAR") of the variable store; the name follows the header.
namespace variable {
constexpr size_t kSignature = 0;
constexpr size_t kSize = 4;
constexpr size_t kNext = 6;  // 24 bits; all ones: no newer copy
constexpr size_t kAttributes = 9;
constexpr size_t kHeaderBytes = 10;
constexpr unsigned kNoNewerCopy = 0xFFFFFF;
constexpr unsigned kRuntimeAsciiNameValid = 0x83;
}  // namespace variable

// The smallest PE32+ image header a parser accepts: a DOS header pointing at
// the "PE\0\0" signature, the COFF header and an optional header with its
// magic. The image has no sections of its own.
namespace pe32 {
constexpr size_t kDosMagic = 0;               // "MZ"
constexpr size_t kDosNewHeaderOffset = 0x3C;  // e_lfanew
constexpr size_t kPeHeader = 0x40;            // right after the DOS header
constexpr size_t kPeSignature = kPeHeader;    // "PE\0\0"
constexpr size_t kMachine = kPeHeader + 4;
constexpr size_t kSectionCount = kPeHeader + 6;
constexpr size_t kOptionalHeaderSize = kPeHeader + 20;
constexpr size_t kCharacteristics = kPeHeader + 22;
constexpr size_t kOptionalHeader = kPeHeader + 24;
constexpr size_t kOptionalMagic = kOptionalHeader + 0;
constexpr size_t kSectionAlignment = kOptionalHeader + 32;
constexpr size_t kFileAlignment = kOptionalHeader + 36;
constexpr size_t kImageSize = kOptionalHeader + 56;
constexpr size_t kHeadersSize = kOptionalHeader + 60;
constexpr size_t kSubsystem = kOptionalHeader + 68;
constexpr size_t kDirectoryCount = kOptionalHeader + 108;
constexpr size_t kOptionalHeaderBytes = 112;  // PE32+ with no data directories
constexpr size_t kHeaderBytes = kOptionalHeader + kOptionalHeaderBytes;
constexpr unsigned kMachineX64 = 0x8664;
constexpr unsigned kExecutableImage = 0x0022;  // executable, large-address aware
constexpr unsigned kPe32PlusMagic = 0x20B;
constexpr unsigned kSubsystemBootServiceDriver = 11;
}  // namespace pe32

}  // namespace sim::builder_layout
