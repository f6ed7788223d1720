#include "sim/image_builder.h"

#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

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
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void PutText(uint8_t* p, const std::string& text, size_t width) {
  if (text.size() > width) throw std::invalid_argument("descriptor text too long: " + text);
  std::memcpy(p, text.data(), text.size());
}

size_t Align8(size_t v) { return (v + 7) & ~size_t(7); }

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
  pad.body.resize(size - 24, 0xFF);
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
  Bytes s(4 + data.size());
  if (s.size() >= 0xFFFFFF) throw std::invalid_argument("section too large");
  Put24(s.data(), uint32_t(s.size()));
  s[3] = type;
  if (!data.empty()) std::memcpy(s.data() + 4, data.data(), data.size());
  return s;
}

Bytes BuildFile(const FileSpec& spec) {
  const size_t size = 24 + spec.body.size();
  if (size >= 0xFFFFFF) throw std::invalid_argument("file too large");
  Bytes f(size);
  std::memcpy(f.data(), spec.name.data(), 16);
  f[18] = spec.type;
  f[19] = uint8_t(spec.other_attributes | (spec.checksummed ? kFileAttributeChecksum : 0));
  Put24(f.data() + 20, uint32_t(size));
  f[23] = spec.state;
  if (!spec.body.empty()) std::memcpy(f.data() + 24, spec.body.data(), spec.body.size());
  FixFileChecksums(f.data());
  return f;
}

void FixFileChecksums(uint8_t* file) {
  const uint32_t size = Get24(file + 20);
  uint8_t data = 0xAA;  // the fixed value of files without checksums
  if (file[19] & kFileAttributeChecksum) {
    uint32_t sum = 0;
    for (uint32_t i = 24; i < size; ++i) sum += file[i];
    data = uint8_t(0x100 - (sum & 0xFF));
  }
  file[16] = 0;
  file[17] = data;
  uint32_t header = 0;
  for (int i = 0; i < 24; ++i)
    if (i != 17 && i != 23) header += file[i];
  file[16] = uint8_t(0x100 - (header & 0xFF));
}

void FixVolumeChecksum(uint8_t* volume) {
  const uint16_t length = Get16(volume + 48);
  Put16(volume + 50, 0);
  uint32_t sum = 0;
  for (uint32_t i = 0; i + 1 < length; i += 2) sum += Get16(volume + i);
  Put16(volume + 50, uint16_t(0x10000 - (sum & 0xFFFF)));
}

Bytes BuildVolume(const VolumeSpec& spec, std::vector<size_t>* file_offsets) {
  if (spec.length < kVolumeHeaderLength) throw std::invalid_argument("volume too short");
  Bytes v(spec.length, 0xFF);
  std::memset(v.data(), 0, 16);
  std::memcpy(v.data() + 16, spec.file_system.data(), 16);
  Put64(v.data() + 32, spec.length);
  Put32(v.data() + 40, 0x4856465F);
  Put32(v.data() + 44, spec.attributes);
  Put16(v.data() + 48, uint16_t(kVolumeHeaderLength));
  Put16(v.data() + 52, 0);
  v[54] = 0;
  v[55] = 2;
  Put32(v.data() + 56, uint32_t(spec.length / spec.block_size));
  Put32(v.data() + 60, spec.block_size);
  Put64(v.data() + 64, 0);

  size_t offset = kVolumeHeaderLength;
  if (spec.ext_name) {
    Bytes ext(20);
    std::memcpy(ext.data(), spec.ext_name->data(), 16);
    Put32(ext.data() + 16, 20);
    const Bytes pad = PadFile(24 + ext.size(), ext);
    Copy(v, offset, pad);
    Put16(v.data() + 52, uint16_t(offset + 24));
    offset = Align8(offset + pad.size());
  }
  for (size_t i = 0; i < spec.files.size(); ++i) {
    const Bytes& file = spec.files[i];
    if (spec.last_file_at_top && i + 1 == spec.files.size()) {
      if (file.size() > spec.length || (spec.length - file.size()) % 8 != 0 || spec.length - file.size() < offset)
        throw std::invalid_argument("top file does not fit at the volume's end");
      const size_t top = spec.length - file.size();
      const size_t gap = top - offset;
      if (gap != 0) {
        if (gap < 24) throw std::invalid_argument("no room for a pad file before the top file");
        Copy(v, offset, PadFile(gap));
      }
      offset = top;
    }
    Copy(v, offset, file);
    if (file_offsets) file_offsets->push_back(offset);
    offset = Align8(offset + file.size());
  }
  FixVolumeChecksum(v.data());
  return v;
}

Bytes BuildDescriptor(const DescriptorSpec& spec) {
  const size_t checksumOffset = spec.checksum_table_offset.value_or(uint16_t(kDescriptorLength));
  const size_t areaOffset =
      spec.area_table_offset.value_or(uint16_t(checksumOffset + 16 * spec.checksums.size()));
  size_t length = kDescriptorLength;
  // Tables without entries may point anywhere; they take no room.
  if (!spec.checksums.empty()) length = std::max(length, checksumOffset + 16 * spec.checksums.size());
  if (!spec.areas.empty()) length = std::max(length, areaOffset + 32 * spec.areas.size());
  Bytes d(length, 0);
  uint8_t* p = d.data();
  Put32(p, spec.signature);
  Put16(p + 8, spec.signature2);
  p[10] = spec.revision[0];
  p[11] = spec.revision[1];
  Put32(p + 16, spec.flash_size);
  Put32(p + 20, spec.bios_size);
  Put32(p + 24, spec.block_size);
  PutText(p + 32, spec.part_number, 8);
  PutText(p + 40, spec.version, 4);
  Put16(p + 44, spec.aux_word);
  p[46] = spec.aux_byte1;
  p[47] = spec.aux_byte2;
  Put16(p + 61, spec.aux_word2);
  p[63] = spec.aux_byte3;
  PutText(p + 64, spec.model_name, 32);
  Put16(p + 96, uint16_t(checksumOffset));
  p[98] = spec.checksum_count.value_or(uint8_t(spec.checksums.size()));
  p[99] = spec.checksum_enabled;
  Put16(p + 100, uint16_t(areaOffset));
  p[102] = spec.area_count.value_or(uint8_t(spec.areas.size()));
  std::memcpy(p + 160, spec.chip_area.data(), 32);
  // Tables are written after the fixed fields, so a table placed over them wins.
  for (size_t i = 0; i < spec.checksums.size(); ++i) {
    uint8_t* e = p + checksumOffset + 16 * i;
    const ChecksumRange& r = spec.checksums[i];
    Put32(e, r.address);
    Put32(e + 4, r.unit_size);
    Put16(e + 8, r.unit_count);
    Put32(e + 12, r.checksum);
  }
  for (size_t i = 0; i < spec.areas.size(); ++i) {
    uint8_t* e = p + areaOffset + 32 * i;
    const AreaSpec& a = spec.areas[i];
    if (a.tag.size() != 4) throw std::invalid_argument("area tag must have four characters");
    std::memcpy(e, a.tag.data(), 4);
    Put32(e + 4, a.length);
    std::memcpy(e + 10, a.file.data(), 16);
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
  uint8_t* d = image.data() + descriptor_offset;
  const size_t table = descriptor_offset + Get16(d + 96);
  const size_t count = d[98];
  if (table + 16 * count > image.size()) throw std::out_of_range("checksum table outside the image");
  for (size_t i = 0; i < count; ++i) Put32(image.data() + table + 16 * i + 12, 0);
  const uint64_t base = (uint64_t(1) << 32) - image.size();
  std::vector<uint32_t> values(count, 0);
  bool inside = true;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = image.data() + table + 16 * i;
    const uint64_t address = Get32(e);
    const uint64_t bytes = uint32_t(Get32(e + 4) * Get16(e + 8));
    const uint64_t words = (bytes + 3) / 4;
    if (address < base || address - base + 4 * words > image.size()) {
      inside = false;
      continue;
    }
    uint32_t sum = 0;
    for (uint64_t w = 0; w < words; ++w) sum += Get32(image.data() + (address - base) + 4 * w);
    values[i] = ScrambledChecksum(sum, uint32_t(i));
  }
  for (size_t i = 0; i < count; ++i) Put32(image.data() + table + 16 * i + 12, values[i]);
  return inside;
}

Bytes BuildVariableStoreVolume(uint64_t length, const std::vector<std::pair<std::string, std::string>>& variables) {
  Bytes records;
  for (const auto& [name, value] : variables) {
    Bytes r(10);
    std::memcpy(r.data(), "NVAR", 4);
    Put24(r.data() + 6, 0xFFFFFF);  // no newer copy
    r[9] = 0x83;                    // runtime, ASCII name, data valid
    r.insert(r.end(), name.begin(), name.end());
    r.push_back(0);
    r.insert(r.end(), value.begin(), value.end());
    Put16(r.data() + 4, uint16_t(r.size()));
    records.insert(records.end(), r.begin(), r.end());
  }
  if (records.empty()) records = {'N', 'V', 'A', 'R', 10, 0, 0xFF, 0xFF, 0xFF, 0x00};
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
  Bytes part(flash_size, 0xFF);
  if (flash_size > bios_region.size() + 20) Put32(part.data() + 16, 0x0FF0A55A);
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
  f.body = Section(kSectionPe32, PseudoRandomBytes(image_size, index));
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
  size_t used = kVolumeHeaderLength + 48;
  for (uint32_t i = 0; used < SampleLayout::kDxeVolumeLength * 7 / 8; ++i) {
    const size_t size = 0x800 + (PseudoRandomBytes(4, 1000 + i)[0] | PseudoRandomBytes(4, 2000 + i)[1] << 8) % 0x18000;
    spec.files.push_back(ModuleFile(100 + i, kFileTypeDriver, size));
    used += Align8(spec.files.back().size());
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
  top.body = PseudoRandomBytes(0x800 - 24, 77);
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
      SampleLayout::kBiosSize,
      {{SampleLayout::kVariableStore - base,
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
