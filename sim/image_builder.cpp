// SPDX-License-Identifier: BSD-2-Clause-Patent
// The builder writes every field through the names in sim/builder_layout.h,
// which are its own: it does not include image/layout.h, so that it stays a
// second opinion on the format the program reads.
#include "sim/image_builder.h"

#include <cstring>
#include <stdexcept>

#include "sim/builder_layout.h"

namespace sim {

namespace {

namespace layout = builder_layout;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put24(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get24(const uint8_t* p) { return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutText(uint8_t* p, const std::string& text, size_t width) {
  if (text.size() > width) throw std::invalid_argument("descriptor text too long: " + text);
  std::memcpy(p, text.data(), text.size());
}

size_t AlignFile(size_t v) { return (v + layout::file::kAlignment - 1) & ~(layout::file::kAlignment - 1); }

void Copy(Bytes& to, size_t offset, const Bytes& from) {
  if (offset > to.size() || from.size() > to.size() - offset) throw std::out_of_range("placement outside the image");
  if (!from.empty()) std::memcpy(to.data() + offset, from.data(), from.size());
}

Bytes PadFile(size_t size, const Bytes& body = {}) {
  FileSpec pad;
  pad.name.fill(0);
  pad.type = kFileTypePad;
  pad.checksummed = false;
  pad.body = body;
  pad.body.resize(size - layout::file::kHeaderBytes, 0xFF);
  return BuildFile(pad);
}

}  // namespace

Guid MakeGuid(uint32_t data1, uint16_t data2, uint16_t data3, std::array<uint8_t, 8> data4) {
  Guid g{};
  Put32(g.data(), data1);
  Put16(g.data() + 4, data2);
  Put16(g.data() + 6, data3);
  std::memcpy(g.data() + 8, data4.data(), 8);
  return g;
}

Guid DescriptorFileName() {
  return MakeGuid(0x56E14F88, 0x234B, 0x4C34, {0xB2, 0x04, 0x29, 0x96, 0x70, 0x44, 0x72, 0x47});
}

Guid FileSystem2Guid() {
  return MakeGuid(0x8C8CE578, 0x8A3D, 0x4F1C, {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3});
}

Bytes Section(uint8_t type, const Bytes& data) {
  namespace section = layout::section;
  Bytes s(section::kHeaderBytes + data.size());
  if (s.size() >= section::kLargestSize) throw std::invalid_argument("section too large");
  Put24(s.data() + section::kSize, uint32_t(s.size()));
  s[section::kType] = type;
  if (!data.empty()) std::memcpy(s.data() + section::kHeaderBytes, data.data(), data.size());
  return s;
}

Bytes Pe32Image(size_t size, uint32_t seed) {
  namespace pe = layout::pe32;
  if (size < pe::kHeaderBytes) throw std::invalid_argument("PE32 image smaller than its headers");
  Bytes image = PseudoRandomBytes(size, seed);
  std::memset(image.data(), 0, pe::kHeaderBytes);
  image[pe::kDosMagic] = 'M';
  image[pe::kDosMagic + 1] = 'Z';
  Put32(image.data() + pe::kDosNewHeaderOffset, uint32_t(pe::kPeHeader));
  std::memcpy(image.data() + pe::kPeSignature, "PE\0\0", 4);
  Put16(image.data() + pe::kMachine, pe::kMachineX64);
  Put16(image.data() + pe::kSectionCount, 0);
  Put16(image.data() + pe::kOptionalHeaderSize, uint16_t(pe::kOptionalHeaderBytes));
  Put16(image.data() + pe::kCharacteristics, pe::kExecutableImage);
  Put16(image.data() + pe::kOptionalMagic, pe::kPe32PlusMagic);
  Put32(image.data() + pe::kSectionAlignment, 0x20);
  Put32(image.data() + pe::kFileAlignment, 0x20);
  Put32(image.data() + pe::kImageSize, uint32_t(size));
  Put32(image.data() + pe::kHeadersSize, uint32_t(pe::kHeaderBytes));
  Put16(image.data() + pe::kSubsystem, pe::kSubsystemBootServiceDriver);
  Put32(image.data() + pe::kDirectoryCount, 0);
  return image;
}

Bytes BuildFile(const FileSpec& spec) {
  namespace file = layout::file;
  const size_t size = file::kHeaderBytes + spec.body.size();
  if (size >= layout::section::kLargestSize) throw std::invalid_argument("file too large");
  Bytes f(size);
  std::memcpy(f.data() + file::kName, spec.name.data(), spec.name.size());
  f[file::kType] = spec.type;
  f[file::kAttributes] = uint8_t(spec.other_attributes | (spec.checksummed ? kFileAttributeChecksum : 0));
  Put24(f.data() + file::kSize, uint32_t(size));
  f[file::kState] = spec.state;
  if (!spec.body.empty()) std::memcpy(f.data() + file::kHeaderBytes, spec.body.data(), spec.body.size());
  FixFileChecksums(f.data());
  return f;
}

void FixFileChecksums(uint8_t* f) {
  namespace file = layout::file;
  const uint32_t size = Get24(f + file::kSize);
  uint8_t data = file::kUnsummedDataChecksum;
  if (f[file::kAttributes] & kFileAttributeChecksum) {
    uint32_t sum = 0;
    for (uint32_t i = file::kHeaderBytes; i < size; ++i) sum += f[i];
    data = uint8_t(0x100 - (sum & 0xFF));
  }
  f[file::kHeaderChecksum] = 0;
  f[file::kDataChecksum] = data;
  // The header sum leaves out the data checksum and the state.
  uint32_t header = 0;
  for (size_t i = 0; i < file::kHeaderBytes; ++i)
    if (i != file::kDataChecksum && i != file::kState) header += f[i];
  f[file::kHeaderChecksum] = uint8_t(0x100 - (header & 0xFF));
}

void FixVolumeChecksum(uint8_t* v) {
  namespace volume = layout::volume;
  const uint16_t length = Get16(v + volume::kHeaderLength);
  Put16(v + volume::kChecksum, 0);
  uint32_t sum = 0;
  for (uint32_t i = 0; i + 1 < length; i += 2) sum += Get16(v + i);
  Put16(v + volume::kChecksum, uint16_t(0x10000 - (sum & 0xFFFF)));
}

Bytes BuildVolume(const VolumeSpec& spec, std::vector<size_t>* file_offsets) {
  namespace volume = layout::volume;
  if (spec.length < kVolumeHeaderLength) throw std::invalid_argument("volume too short");
  Bytes v(spec.length, 0xFF);
  std::memset(v.data() + volume::kZeroVector, 0, 16);
  std::memcpy(v.data() + volume::kFileSystemGuid, spec.file_system.data(), spec.file_system.size());
  Put64(v.data() + volume::kLength, spec.length);
  Put32(v.data() + volume::kSignature, volume::kSignatureValue);
  Put32(v.data() + volume::kAttributes, spec.attributes);
  Put16(v.data() + volume::kHeaderLength, uint16_t(kVolumeHeaderLength));
  Put16(v.data() + volume::kExtHeaderOffset, 0);
  v[volume::kReserved] = 0;
  v[volume::kRevision] = volume::kRevisionValue;
  Put32(v.data() + volume::kBlockCount, uint32_t(spec.length / spec.block_size));
  Put32(v.data() + volume::kBlockLength, spec.block_size);
  Put64(v.data() + volume::kBlockMapEnd, 0);

  size_t offset = kVolumeHeaderLength;
  if (spec.ext_name) {
    Bytes ext(volume::kExtHeaderBytes);
    std::memcpy(ext.data() + volume::kExtName, spec.ext_name->data(), spec.ext_name->size());
    Put32(ext.data() + volume::kExtSize, uint32_t(volume::kExtHeaderBytes));
    const Bytes pad = PadFile(layout::file::kHeaderBytes + ext.size(), ext);
    Copy(v, offset, pad);
    Put16(v.data() + volume::kExtHeaderOffset, uint16_t(offset + layout::file::kHeaderBytes));
    offset = AlignFile(offset + pad.size());
  }
  for (size_t i = 0; i < spec.files.size(); ++i) {
    const Bytes& file = spec.files[i];
    if (spec.last_file_at_top && i + 1 == spec.files.size()) {
      if (file.size() > spec.length || (spec.length - file.size()) % 8 != 0 || spec.length - file.size() < offset)
        throw std::invalid_argument("top file does not fit at the volume's end");
      const size_t top = spec.length - file.size();
      const size_t gap = top - offset;
      if (gap != 0) {
        if (gap < layout::file::kHeaderBytes) throw std::invalid_argument("no room for a pad file before the top file");
        Copy(v, offset, PadFile(gap));
      }
      offset = top;
    }
    Copy(v, offset, file);
    if (file_offsets) file_offsets->push_back(offset);
    offset = AlignFile(offset + file.size());
  }
  FixVolumeChecksum(v.data());
  return v;
}

Bytes BuildDescriptor(const DescriptorSpec& spec) {
  namespace desc = layout::descriptor;
  namespace checksum = layout::checksum_entry;
  namespace area = layout::area_entry;
  const size_t checksumOffset = spec.checksum_table_offset.value_or(uint16_t(kDescriptorLength));
  const size_t areaOffset =
      spec.area_table_offset.value_or(uint16_t(checksumOffset + checksum::kBytes * spec.checksums.size()));
  size_t length = kDescriptorLength;
  // Tables without entries may point anywhere; they take no room.
  if (!spec.checksums.empty()) length = std::max(length, checksumOffset + checksum::kBytes * spec.checksums.size());
  if (!spec.areas.empty()) length = std::max(length, areaOffset + area::kBytes * spec.areas.size());
  Bytes d(length, 0);
  uint8_t* p = d.data();
  Put32(p + desc::kSignature, spec.signature);
  Put16(p + desc::kSignature2, spec.signature2);
  p[desc::kRevision] = spec.revision[0];
  p[desc::kRevision + 1] = spec.revision[1];
  Put32(p + desc::kFlashSize, spec.flash_size);
  Put32(p + desc::kBiosSize, spec.bios_size);
  Put32(p + desc::kBlockSize, spec.block_size);
  PutText(p + desc::kPartNumber, spec.part_number, desc::kPartNumberWidth);
  PutText(p + desc::kVersion, spec.version, desc::kVersionWidth);
  Put16(p + desc::kAuxWord, spec.aux_word);
  p[desc::kAuxByte1] = spec.aux_byte1;
  p[desc::kAuxByte2] = spec.aux_byte2;
  Put16(p + desc::kAuxWord2, spec.aux_word2);
  p[desc::kAuxByte3] = spec.aux_byte3;
  PutText(p + desc::kModelName, spec.model_name, desc::kModelNameWidth);
  Put16(p + desc::kChecksumTableOffset, uint16_t(checksumOffset));
  p[desc::kChecksumCount] = spec.checksum_count.value_or(uint8_t(spec.checksums.size()));
  p[desc::kChecksumEnabled] = spec.checksum_enabled;
  Put16(p + desc::kAreaTableOffset, uint16_t(areaOffset));
  p[desc::kAreaCount] = spec.area_count.value_or(uint8_t(spec.areas.size()));
  std::memcpy(p + desc::kChipArea, spec.chip_area.data(), desc::kChipAreaBytes);
  // Tables are written after the fixed fields, so a table placed over them wins.
  for (size_t i = 0; i < spec.checksums.size(); ++i) {
    uint8_t* e = p + checksumOffset + checksum::kBytes * i;
    const ChecksumRange& r = spec.checksums[i];
    Put32(e + checksum::kAddress, r.address);
    Put32(e + checksum::kUnitSize, r.unit_size);
    Put16(e + checksum::kUnitCount, r.unit_count);
    Put32(e + checksum::kChecksum, r.checksum);
  }
  for (size_t i = 0; i < spec.areas.size(); ++i) {
    uint8_t* e = p + areaOffset + area::kBytes * i;
    const AreaSpec& a = spec.areas[i];
    if (a.tag.size() != area::kTagWidth) throw std::invalid_argument("area tag must have four characters");
    std::memcpy(e + area::kTag, a.tag.data(), area::kTagWidth);
    Put32(e + area::kLength, a.length);
    std::memcpy(e + area::kFile, a.file.data(), a.file.size());
  }
  return d;
}

Bytes BuildDescriptorFile(const DescriptorSpec& spec, bool checksummed) {
  FileSpec file;
  file.name = DescriptorFileName();
  file.type = kFileTypeFreeform;
  file.checksummed = checksummed;
  file.body = Section(kSectionRaw, BuildDescriptor(spec));
  return BuildFile(file);
}

uint32_t ScrambledChecksum(uint32_t sum, uint32_t index) {
  // Where each input bit lands before the whole-word rotation.
  auto target = [](uint32_t bit) -> uint32_t {
    if (bit == 0) return 7;
    if (bit <= 7) return bit - 1;
    if (bit <= 9) return bit + 6;
    if (bit <= 15) return bit - 2;
    if (bit <= 18) return bit + 5;
    if (bit <= 23) return bit - 3;
    if (bit <= 27) return bit + 4;
    return bit - 4;
  };
  uint32_t out = 0;
  for (uint32_t bit = 0; bit < 32; ++bit)
    if (sum & (1u << bit)) out |= 1u << target(bit);
  const uint32_t r = index % 32;
  uint32_t rotated = out;
  for (uint32_t i = 0; i < r; ++i) rotated = (rotated >> 1) | (rotated << 31);
  return rotated;
}

bool ComputeDescriptorChecksums(Bytes& image, size_t descriptor_offset) {
  namespace checksum = layout::checksum_entry;
  uint8_t* d = image.data() + descriptor_offset;
  const size_t table = descriptor_offset + Get16(d + layout::descriptor::kChecksumTableOffset);
  const size_t count = d[layout::descriptor::kChecksumCount];
  auto entry = [&](size_t i) { return image.data() + table + checksum::kBytes * i; };
  if (table + checksum::kBytes * count > image.size()) throw std::out_of_range("checksum table outside the image");
  for (size_t i = 0; i < count; ++i) Put32(entry(i) + checksum::kChecksum, 0);
  const uint64_t base = (uint64_t(1) << 32) - image.size();
  std::vector<uint32_t> values(count, 0);
  bool inside = true;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = entry(i);
    const uint64_t address = Get32(e + checksum::kAddress);
    const uint64_t bytes = uint32_t(Get32(e + checksum::kUnitSize) * Get16(e + checksum::kUnitCount));
    const uint64_t words = (bytes + 3) / 4;
    if (address < base || address - base + 4 * words > image.size()) {
      inside = false;
      continue;
    }
    uint32_t sum = 0;
    for (uint64_t w = 0; w < words; ++w) sum += Get32(image.data() + (address - base) + 4 * w);
    values[i] = ScrambledChecksum(sum, uint32_t(i));
  }
  for (size_t i = 0; i < count; ++i) Put32(entry(i) + checksum::kChecksum, values[i]);
  return inside;
}

Bytes BuildVariableStoreVolume(uint64_t length, const std::vector<std::pair<std::string, std::string>>& variables) {
  Bytes records;
  namespace variable = layout::variable;
  for (const auto& [name, value] : variables) {
    Bytes r(variable::kHeaderBytes);
    std::memcpy(r.data() + variable::kSignature, "NVAR", 4);
    Put24(r.data() + variable::kNext, variable::kNoNewerCopy);
    r[variable::kAttributes] = variable::kRuntimeAsciiNameValid;
    r.insert(r.end(), name.begin(), name.end());
    r.push_back(0);
    r.insert(r.end(), value.begin(), value.end());
    Put16(r.data() + variable::kSize, uint16_t(r.size()));
    records.insert(records.end(), r.begin(), r.end());
  }
  if (records.empty()) {
    // One empty record with no attributes, so the store still starts with "NVAR".
    records.assign(variable::kHeaderBytes, 0);
    std::memcpy(records.data() + variable::kSignature, "NVAR", 4);
    Put16(records.data() + variable::kSize, uint16_t(variable::kHeaderBytes));
    Put24(records.data() + variable::kNext, variable::kNoNewerCopy);
  }
  FileSpec store;
  store.name = MakeGuid(0x2C7E9A4D, 0x51B0, 0x4F3E, {0x8D, 0x21, 0x6A, 0x0E, 0x94, 0x37, 0xC5, 0xB8});
  store.type = kFileTypeRaw;
  store.checksummed = false;  // written at run time; no data sum is kept
  store.body = records;
  VolumeSpec spec;
  spec.length = length;
  spec.files = {BuildFile(store)};
  return BuildVolume(spec);
}

Bytes BuildBiosRegion(size_t size, const std::vector<Placement>& placements) {
  Bytes region(size, 0xFF);
  for (const Placement& p : placements) Copy(region, p.offset, p.bytes);
  return region;
}

Bytes BuildFlashPart(size_t flash_size, const Bytes& bios_region) {
  if (bios_region.size() > flash_size) throw std::invalid_argument("BIOS region larger than the part");
  // Erased below the region: no flash descriptor is claimed that is not there.
  Bytes part(flash_size, 0xFF);
  Copy(part, flash_size - bios_region.size(), bios_region);
  return part;
}

Bytes PseudoRandomBytes(size_t count, uint32_t seed) {
  Bytes out(count);
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < count; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = uint8_t(x >> 11);
  }
  return out;
}

// ---------------------------------------------------------------------------
// The sample board.

namespace {

Guid ModuleName(uint32_t index) {
  return MakeGuid(0x7A3C0000u + index, 0x1F2E, 0x4D5C, {0x9B, 0x8A, 0x76, 0x65, 0x54, 0x43, 0x32, uint8_t(index)});
}

Bytes ModuleFile(uint32_t index, uint8_t type, size_t image_size) {
  FileSpec f;
  f.name = ModuleName(index);
  f.type = type;
  f.body = Section(kSectionPe32, Pe32Image(image_size, index));
  return BuildFile(f);
}

Bytes RawFile(const Guid& name, const Bytes& data) {
  FileSpec f;
  f.name = name;
  f.type = kFileTypeFreeform;
  f.body = Section(kSectionRaw, data);
  return BuildFile(f);
}

constexpr uint32_t kSerialBytes = 64;

Bytes SerialRecord(bool backup) {
  std::string text = backup ? "SN:PX-B-000417 CHIP:BACKUP LOT:2408" : "SN:PX-M-000417 CHIP:MAIN LOT:2408";
  Bytes data(kSerialBytes, 0);
  std::memcpy(data.data(), text.data(), text.size());
  return data;
}

struct SampleParts {
  Bytes identity;
  size_t descriptor_in_identity = 0;
  size_t serial_in_identity = 0;
};

SampleParts BuildIdentityVolume(bool backup, const DescriptorSpec& descriptor) {
  VolumeSpec spec;
  spec.length = SampleLayout::kIdentityVolumeLength;
  spec.ext_name = MakeGuid(0x3B1E6F20, 0x7C4D, 0x4A8B, {0xA1, 0x52, 0x0C, 0x9D, 0xE3, 0x46, 0x71, 0x28});
  spec.files.push_back(ModuleFile(500, kFileTypeDriver, 0x6000));
  spec.files.push_back(BuildDescriptorFile(descriptor));
  spec.files.push_back(RawFile(SampleSerialFileName(), SerialRecord(backup)));
  spec.files.push_back(RawFile(SampleMacFileName(), Bytes{0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E}));
  spec.files.push_back(ModuleFile(501, kFileTypeDriver, 0x9000));
  std::vector<size_t> offsets;
  SampleParts parts;
  parts.identity = BuildVolume(spec, &offsets);
  parts.descriptor_in_identity = offsets[1] + kDescriptorInFile;
  parts.serial_in_identity = offsets[2];
  return parts;
}

DescriptorSpec SampleDescriptor(bool backup, size_t descriptor_offset) {
  DescriptorSpec d;
  d.flash_size = SampleLayout::kFlashSize;
  d.bios_size = SampleLayout::kBiosSize;
  d.block_size = 0x1000;
  d.part_number = "PX100A01";
  d.version = "0107";
  d.model_name = "PELLRIX PX-100 REFERENCE";
  const uint32_t windowBase = 0u - SampleLayout::kFlashSize;
  auto window = [&](size_t offset) { return uint32_t(windowBase + offset); };
  // The code volumes and the descriptor's identity fields; the variable
  // store, ChipArea and the serial-number file are left out because they
  // differ from chip to chip.
  d.checksums = {
      {window(SampleLayout::kDxeVolume), 0x10000, uint16_t(SampleLayout::kDxeVolumeLength / 0x10000), 0},
      {window(SampleLayout::kPeiVolume), 0x10000, uint16_t(SampleLayout::kPeiVolumeLength / 0x10000), 0},
      {window(SampleLayout::kIdentityVolume), 0x1000, 6, 0},
      {window(descriptor_offset), 0x10, 10, 0},
  };
  d.areas = {{"$SSN", kSerialBytes, SampleSerialFileName()}, {"$MAC", 6, SampleMacFileName()}};
  for (size_t i = 0; i < d.chip_area.size(); ++i) d.chip_area[i] = uint8_t((backup ? 0xB0 : 0x40) + i);
  return d;
}

Bytes BuildDxeVolume() {
  VolumeSpec spec;
  spec.length = SampleLayout::kDxeVolumeLength;
  spec.ext_name = MakeGuid(0x5C60F367, 0xA505, 0x419A, {0x85, 0x9E, 0x2A, 0x4F, 0xF6, 0xCA, 0x6F, 0xE5});
  size_t used = kVolumeHeaderLength + AlignFile(layout::file::kHeaderBytes + layout::volume::kExtHeaderBytes);
  for (uint32_t i = 0; used < SampleLayout::kDxeVolumeLength * 7 / 8; ++i) {
    const size_t size = 0x800 + (PseudoRandomBytes(4, 1000 + i)[0] | PseudoRandomBytes(4, 2000 + i)[1] << 8) % 0x18000;
    spec.files.push_back(ModuleFile(100 + i, kFileTypeDriver, size));
    used += AlignFile(spec.files.back().size());
  }
  return BuildVolume(spec);
}

Bytes BuildPeiVolume() {
  VolumeSpec spec;
  spec.length = SampleLayout::kPeiVolumeLength;
  for (uint32_t i = 0; i < 24; ++i) spec.files.push_back(ModuleFile(10 + i, kFileTypePeim, 0x1800 + 0x400 * i));
  // The volume top file carries the reset vector in the last bytes below 4 GiB.
  FileSpec top;
  top.name = MakeGuid(0x1BA0062E, 0xC779, 0x4582, {0x85, 0x66, 0x33, 0x6A, 0xE8, 0xF7, 0x8F, 0x09});
  top.type = kFileTypeRaw;
  top.body = PseudoRandomBytes(0x800 - layout::file::kHeaderBytes, 77);
  const uint8_t resetVector[16] = {0x90, 0x90, 0xE9, 0xAB, 0xFF, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(top.body.data() + top.body.size() - 16, resetVector, 16);
  spec.files.push_back(BuildFile(top));
  spec.last_file_at_top = true;
  return BuildVolume(spec);
}

std::vector<std::pair<std::string, std::string>> SampleVariables(bool backup) {
  return {{"Setup", backup ? std::string("\x01\x00\x03\x02", 4) : std::string("\x01\x01\x00\x02", 4)},
          {"BootOrder", backup ? std::string("\x02\x00\x01\x00", 4) : std::string("\x01\x00\x02\x00", 4)},
          {"MonotonicCounter", backup ? "00000731" : "00001185"},
          {"Lang", "eng"}};
}

struct SampleImage {
  Bytes part;
  size_t descriptor = 0;
  size_t serial_file = 0;
};

SampleImage BuildSample(bool backup) {
  const size_t base = SampleLayout::kBiosStart;
  // The descriptor's own offset feeds its checksum table, so build the
  // identity volume once to learn where the descriptor lands.
  SampleParts probe = BuildIdentityVolume(backup, SampleDescriptor(backup, 0));
  const size_t descriptor = SampleLayout::kIdentityVolume + probe.descriptor_in_identity;
  SampleParts identity = BuildIdentityVolume(backup, SampleDescriptor(backup, descriptor));

  // The spare area after the store: erased on Main, a stale copy on Backup.
  Bytes spare(SampleLayout::kVariableStoreLength, 0xFF);
  if (backup) spare = BuildVariableStoreVolume(SampleLayout::kVariableStoreLength, SampleVariables(false));
  Bytes region = BuildBiosRegion(
      SampleLayout::kBiosSize, {{SampleLayout::kVariableStore - base,
                                 BuildVariableStoreVolume(SampleLayout::kVariableStoreLength, SampleVariables(backup))},
                                {SampleLayout::kVariableStore - base + SampleLayout::kVariableStoreLength, spare},
                                {SampleLayout::kDxeVolume - base, BuildDxeVolume()},
                                {SampleLayout::kIdentityVolume - base, identity.identity},
                                {SampleLayout::kPeiVolume - base, BuildPeiVolume()}});
  Bytes part = BuildFlashPart(SampleLayout::kFlashSize, region);
  if (!ComputeDescriptorChecksums(part, descriptor)) throw std::logic_error("sample checksum range outside the part");
  return {std::move(part), descriptor, SampleLayout::kIdentityVolume + identity.serial_in_identity};
}

}  // namespace

Guid SampleSerialFileName() {
  return MakeGuid(0x9E0C41D2, 0x3F7A, 0x4B65, {0x8C, 0x11, 0xD4, 0x2A, 0x5E, 0x90, 0x63, 0xB7});
}

Guid SampleMacFileName() {
  return MakeGuid(0xC41A77E8, 0x62B3, 0x4D0F, {0xA9, 0x3E, 0x18, 0x57, 0xF0, 0x2C, 0xB6, 0x4D});
}

std::vector<uint8_t> BuildSampleChipImage(bool backup) { return BuildSample(backup).part; }

size_t SampleDescriptorOffset() { return BuildSample(false).descriptor; }

size_t SampleSerialFileOffset() { return BuildSample(false).serial_file; }

}  // namespace sim
