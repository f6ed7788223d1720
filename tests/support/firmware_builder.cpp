// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/firmware_builder.h"

#include <brotli/encode.h>
#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "tests/support/standard_compressor.h"

namespace support {

namespace {

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// A 4-byte section header: 24-bit size, then the type.
void PutHeader(uint8_t* at, uint8_t type, size_t total) {
  Put32(at, uint32_t(total));
  at[3] = type;
}

// `data` after `room` zero bytes for a header, in one allocation: appending
// to a header vector trips GCC 12's array-bounds warning at -O3.
Bytes WithHeaderRoom(size_t room, const Bytes& data) {
  Bytes out(room + data.size());
  std::copy(data.begin(), data.end(), out.begin() + long(room));
  return out;
}

Bytes Lzma(const Bytes& data, bool x86Filter) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  options.dict_size = 1u << 20;
  lzma_filter chain[3];
  int count = 0;
  if (x86Filter) chain[count++] = {LZMA_FILTER_X86, nullptr};
  chain[count++] = {LZMA_FILTER_LZMA1, &options};
  chain[count] = {LZMA_VLI_UNKNOWN, nullptr};
  Bytes out(13 + data.size() + data.size() / 2 + 1024);
  size_t written = 13;
  if (lzma_raw_buffer_encode(chain, nullptr, data.data(), data.size(), out.data(), &written, out.size()) != LZMA_OK)
    throw std::runtime_error("LZMA encoding failed");
  uint32_t propertiesSize = 0;
  lzma_filter properties{LZMA_FILTER_LZMA1, &options};
  lzma_properties_size(&propertiesSize, &properties);
  lzma_properties_encode(&properties, out.data());
  Put64(out.data() + 5, data.size());
  out.resize(written);
  return out;
}

}  // namespace

sim::Guid ToSimGuid(const fwtree::Guid& guid) {
  sim::Guid result;
  std::memcpy(result.data(), guid.data(), 16);
  return result;
}

sim::Guid NumberedGuid(uint32_t family, uint32_t n) {
  return sim::MakeGuid(family + n, 0x3333, 0x4444, {9, 8, 7, 6, 5, 4, 3, uint8_t(n)});
}

std::string NumberedGuidText(uint32_t family, uint32_t n) {
  const sim::Guid g = NumberedGuid(family, n);
  fwtree::Guid guid;
  std::copy(g.begin(), g.end(), guid.begin());
  return fwtree::GuidText(guid);
}

Bytes Sections(const std::vector<Bytes>& sections) {
  Bytes out;
  for (const Bytes& section : sections) {
    while (out.size() % 4 != 0) out.push_back(0);
    out.insert(out.end(), section.begin(), section.end());
  }
  return out;
}

Bytes LargeSection(uint8_t type, const Bytes& data) {
  Bytes out = WithHeaderRoom(8, data);
  Put32(out.data(), 0xFFFFFF);
  out[3] = type;
  Put32(out.data() + 4, uint32_t(data.size() + 8));
  return out;
}

Bytes UiSection(const std::u16string& name) {
  Bytes data;
  for (char16_t unit : name) {
    data.push_back(uint8_t(unit));
    data.push_back(uint8_t(unit >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  return sim::Section(kSectionUserInterface, data);
}

static Bytes CompressionSection(uint8_t kind, uint32_t originalSize, const Bytes& payload) {
  Bytes out = WithHeaderRoom(9, payload);
  PutHeader(out.data(), kSectionCompression, out.size());
  Put32(out.data() + 4, originalSize);
  out[8] = kind;
  return out;
}

Bytes PlainCompressionSection(const Bytes& sections) {
  return CompressionSection(0, uint32_t(sections.size()), sections);
}

Bytes StandardCompressionSection(const Bytes& sections, fwtree::StandardVariant variant) {
  return CompressionSection(1, uint32_t(sections.size()), StandardCompress(sections, variant));
}

Bytes GuidedSection(const fwtree::Guid& guid, uint16_t attributes, const Bytes& data) {
  constexpr size_t kHeader = 4 + 16 + 2 + 2;
  Bytes out = WithHeaderRoom(kHeader, data);
  PutHeader(out.data(), kSectionGuidDefined, out.size());
  std::memcpy(out.data() + 4, guid.data(), 16);
  Put16(out.data() + 20, kHeader);
  Put16(out.data() + 22, attributes);
  return out;
}

Bytes LzmaSection(const Bytes& sections, bool x86Filter) {
  return GuidedSection(x86Filter ? fwtree::kLzmaX86Section : fwtree::kLzmaSection, kProcessingRequired,
                       Lzma(sections, x86Filter));
}

Bytes BrotliSection(const Bytes& sections) {
  size_t size = BrotliEncoderMaxCompressedSize(sections.size()) + 16;
  Bytes out(16 + size);
  if (!BrotliEncoderCompress(9, 22, BROTLI_MODE_GENERIC, sections.size(), sections.data(), &size, out.data() + 16))
    throw std::runtime_error("Brotli encoding failed");
  out.resize(16 + size);
  Put64(out.data(), sections.size());
  Put64(out.data() + 8, 0x10000);  // the firmware decoder's scratch size
  return GuidedSection(fwtree::kBrotliSection, kProcessingRequired, out);
}

// The CRC-32 of zlib and the firmware's CRC32 sections (reflected 0x04C11DB7).
uint32_t Crc32(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

Bytes Crc32Section(const Bytes& sections) {
  // The CRC of the data lies between the header and the data.
  Bytes data = WithHeaderRoom(4, sections);
  Put32(data.data(), Crc32(sections));
  Bytes out = GuidedSection(fwtree::kCrc32Section, 0x02, data);
  Put16(out.data() + 20, 24 + 4);
  return out;
}

Bytes VolumeImageSection(const Bytes& volume) { return sim::Section(kSectionVolumeImage, volume); }

Bytes BuildLargeFile(const sim::FileSpec& spec) {
  sim::FileSpec small = spec;
  small.body.clear();
  small.checksummed = false;
  small.other_attributes = uint8_t(spec.other_attributes | 0x01);
  Bytes header = sim::BuildFile(small);  // 24 bytes, sums for an empty body
  header[20] = header[21] = header[22] = 0;
  Bytes out = WithHeaderRoom(32, spec.body);
  std::memcpy(out.data(), header.data(), 24);
  Put64(out.data() + 24, 32 + spec.body.size());
  return out;
}

Bytes BuildFlashDescriptor(const std::vector<FlashRegionSpec>& regions) {
  Bytes out(4096, 0xFF);
  std::memset(out.data(), 0xFF, 16);
  Put32(out.data() + 16, 0x0FF0A55A);
  // FLMAP0: component table at 0x30, region table at 0x40 (five regions);
  // FLMAP1: master table at 0x60.
  Put32(out.data() + 20, 0x04040003);
  Put32(out.data() + 24, 0x00000206);
  Put32(out.data() + 28, 0);
  std::memset(out.data() + 0x30, 0, 0x10);
  for (int index = 0; index < 8; ++index) Put32(out.data() + 0x40 + 4 * index, index < 5 ? 0x00001FFF : 0xFFFFFFFF);
  for (const FlashRegionSpec& region : regions)
    Put32(out.data() + 0x40 + 4 * region.index, (region.base >> 12) | ((region.limit >> 12) << 16));
  std::memset(out.data() + 0x60, 0, 0x10);
  return out;
}

}  // namespace support
