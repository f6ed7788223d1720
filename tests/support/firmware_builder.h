// SPDX-License-Identifier: BSD-2-Clause-Patent
// The image builder's encapsulations, for tests of the firmware tree:
// compression sections (none, standard), GUID-defined sections (LZMA, LZMA
// with the x86 filter, Brotli, CRC32, others), volume image sections,
// user-interface sections, FFSv3 large files and an Intel flash descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fwtree/guid.h"
#include "fwtree/standard_decompress.h"
#include "sim/image_builder.h"

namespace support {

using sim::Bytes;

inline constexpr uint8_t kSectionCompression = 0x01;
inline constexpr uint8_t kSectionGuidDefined = 0x02;
inline constexpr uint8_t kSectionUserInterface = 0x15;
inline constexpr uint8_t kSectionVolumeImage = 0x17;
inline constexpr uint8_t kFileTypeVolumeImage = 0x0B;
inline constexpr uint16_t kProcessingRequired = 0x01;

sim::Guid ToSimGuid(const fwtree::Guid& guid);
// Test names: one GUID per number within a family, and its text as reports
// print it.
sim::Guid NumberedGuid(uint32_t family, uint32_t n);
std::string NumberedGuidText(uint32_t family, uint32_t n);

// Sections one after another at 4-byte boundaries.
Bytes Sections(const std::vector<Bytes>& sections);
// A section with the 8-byte header (24-bit size 0xFFFFFF, then 32-bit size).
Bytes LargeSection(uint8_t type, const Bytes& data);
Bytes UiSection(const std::u16string& name);
// Compression section: not compressed, or standard compression in `variant`.
Bytes PlainCompressionSection(const Bytes& sections);
Bytes StandardCompressionSection(const Bytes& sections, fwtree::StandardVariant variant);
// GUID-defined section holding `data` as it is.
Bytes GuidedSection(const fwtree::Guid& guid, uint16_t attributes, const Bytes& data);
Bytes LzmaSection(const Bytes& sections, bool x86Filter = false);
Bytes BrotliSection(const Bytes& sections);
Bytes Crc32Section(const Bytes& sections);
Bytes VolumeImageSection(const Bytes& volume);

// A file with the FFSv3 32-byte header: attribute 0x01, 24-bit size 0 and
// the 64-bit ExtendedSize.
Bytes BuildLargeFile(const sim::FileSpec& spec);

struct FlashRegionSpec {
  int index;
  uint32_t base;
  uint32_t limit;  // last byte
};
// A 4 KiB Intel flash descriptor with its region table; unlisted regions unused.
Bytes BuildFlashDescriptor(const std::vector<FlashRegionSpec>& regions);

}  // namespace support
