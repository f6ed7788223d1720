// SPDX-License-Identifier: BSD-2-Clause-Patent
// Builds firmware images for tests and for the simulated boards: PI firmware
// volumes and files with correct sums, the "$BDR" descriptor with its tables,
// a variable-store volume and whole flash parts with the BIOS region on top.
// Host-only support code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;
using Guid = std::array<uint8_t, 16>;

// A GUID in its in-memory byte order from the usual textual fields.
Guid MakeGuid(uint32_t data1, uint16_t data2, uint16_t data3, std::array<uint8_t, 8> data4);
// The name of the file that holds the descriptor.
Guid DescriptorFileName();
// EFI_FIRMWARE_FILE_SYSTEM2_GUID.
Guid FileSystem2Guid();

// PI file and section types used here.
inline constexpr uint8_t kFileTypeRaw = 0x01;
inline constexpr uint8_t kFileTypeFreeform = 0x02;
inline constexpr uint8_t kFileTypePeim = 0x06;
inline constexpr uint8_t kFileTypeDriver = 0x07;
inline constexpr uint8_t kFileTypePad = 0xF0;
inline constexpr uint8_t kSectionRaw = 0x19;
inline constexpr uint8_t kSectionPe32 = 0x10;
inline constexpr uint8_t kFileAttributeChecksum = 0x40;

// A section: 4-byte common header (24-bit size, type) and the data.
Bytes Section(uint8_t type, const Bytes& data);

// A PE32+ image of `size` bytes: the headers a parser checks (DOS, PE and
// optional header, no sections), then deterministic filler from `seed`.
Bytes Pe32Image(size_t size, uint32_t seed);

struct FileSpec {
  Guid name{};
  uint8_t type = kFileTypeDriver;
  bool checksummed = true;  // attribute 0x40 with a real data checksum; else the fixed 0xAA
  uint8_t other_attributes = 0;
  uint8_t state = 0xF8;  // header valid, data valid, with erase polarity 1
  Bytes body;            // everything after the 24-byte header, usually sections
};

// The 24-byte header followed by the body, both sums computed.
Bytes BuildFile(const FileSpec& spec);
// Recomputes the header and data sums of the file at `file` as BuildFile does.
void FixFileChecksums(uint8_t* file);

struct VolumeSpec {
  uint64_t length = 0x10000;  // FvLength; the volume is this many bytes
  Guid file_system = FileSystem2Guid();
  // An extended header naming the volume, carried in a pad file as the first
  // file (as the usual build tools place it).
  std::optional<Guid> ext_name;
  std::vector<Bytes> files;  // built files, placed at 8-byte aligned offsets after the header
  uint32_t attributes = 0x0004FEFF;
  uint32_t block_size = 0x1000;
  // Pad the last file so that it ends exactly at the volume's end (a volume
  // top file, as the reset vector's volume has).
  bool last_file_at_top = false;
};

// The volume, erased (0xFF) where no file lies, header sum correct. When
// `file_offsets` is given it receives each file's offset from the volume start.
Bytes BuildVolume(const VolumeSpec& spec, std::vector<size_t>* file_offsets = nullptr);
// Recomputes the volume header's 16-bit checksum.
void FixVolumeChecksum(uint8_t* volume);
constexpr size_t kVolumeHeaderLength = 0x48;  // fixed header plus a one-entry block map

struct ChecksumRange {
  uint32_t address = 0;  // window address below 4 GiB
  uint32_t unit_size = 0;
  uint16_t unit_count = 0;
  uint32_t checksum = 0;  // as stored; ComputeDescriptorChecksums overwrites it
};

struct AreaSpec {
  std::string tag;  // four characters
  uint32_t length = 0;
  Guid file{};
};

struct DescriptorSpec {
  uint32_t signature = 0x52444224;  // "$BDR"
  uint16_t signature2 = 0x5AA5;
  uint8_t revision[2] = {0x00, 0x01};
  uint32_t flash_size = 0x1000000;
  uint32_t bios_size = 0x800000;
  uint32_t block_size = 0x1000;
  std::string part_number = "PX100A01";
  std::string version = "0107";
  std::string model_name = "PELLRIX REFERENCE BOARD";
  uint16_t aux_word = 0x1234;
  uint8_t aux_byte1 = 0x56;
  uint8_t aux_byte2 = 0x78;
  uint16_t aux_word2 = 0x9ABC;
  uint8_t aux_byte3 = 0xDE;
  uint8_t checksum_enabled = 1;
  std::vector<ChecksumRange> checksums;
  std::vector<AreaSpec> areas;
  std::array<uint8_t, 32> chip_area{};
  // Table offsets from the descriptor's first byte. By default the checksum
  // table follows the 192-byte descriptor and the area table follows it.
  std::optional<uint16_t> checksum_table_offset;
  std::optional<uint16_t> area_table_offset;
  // Overrides of the counts written, for tables that claim more than they hold.
  std::optional<uint8_t> checksum_count;
  std::optional<uint8_t> area_count;
};

constexpr size_t kDescriptorLength = 192;
// The descriptor with its tables; its length covers both tables.
Bytes BuildDescriptor(const DescriptorSpec& spec);
// The file named DescriptorFileName whose first (raw) section is the descriptor.
Bytes BuildDescriptorFile(const DescriptorSpec& spec, bool checksummed = false);
// Offset of the descriptor inside a file built by BuildDescriptorFile.
constexpr size_t kDescriptorInFile = 28;

// Computes every entry of the descriptor's checksum table over `image`, the
// top image.size() bytes of the 4 GiB window, with all Checksum fields taken
// as zero, and stores the results. Returns false when a range leaves the image.
bool ComputeDescriptorChecksums(Bytes& image, size_t descriptor_offset);
// The table's value for a 32-bit word sum at entry `index` (the checksum scramble).
uint32_t ScrambledChecksum(uint32_t sum, uint32_t index);

// A variable-store volume: first file's body begins with "NVAR" records, one
// per (name, value) pair; the rest of the volume is erased.
Bytes BuildVariableStoreVolume(uint64_t length, const std::vector<std::pair<std::string, std::string>>& variables);

struct Placement {
  size_t offset = 0;  // from the start of the BIOS region
  Bytes bytes;
};
// A BIOS region of `size` erased bytes with each placement copied in.
Bytes BuildBiosRegion(size_t size, const std::vector<Placement>& placements);
// A whole flash part: erased space below the BIOS region, the region at the top.
Bytes BuildFlashPart(size_t flash_size, const Bytes& bios_region);

// Deterministic filler bytes (for module bodies).
Bytes PseudoRandomBytes(size_t count, uint32_t seed);

// The sample board's 16 MiB part; the top 8 MiB are the BIOS region. The two
// chips differ only in the variable store, the descriptor's ChipArea and the
// body of the area-listed serial-number file, so only masking lets them
// compare equal. Checksums are in force and hold on both.
std::vector<uint8_t> BuildSampleChipImage(bool backup);

// Where things lie in the sample image (offsets from the start of the part).
struct SampleLayout {
  static constexpr uint32_t kFlashSize = 0x1000000;
  static constexpr uint32_t kBiosSize = 0x800000;
  static constexpr uint32_t kBiosStart = kFlashSize - kBiosSize;
  static constexpr uint32_t kVariableStore = kBiosStart + 0x000000;
  static constexpr uint32_t kVariableStoreLength = 0x40000;
  static constexpr uint32_t kDxeVolume = kBiosStart + 0x080000;
  static constexpr uint32_t kDxeVolumeLength = 0x500000;
  static constexpr uint32_t kIdentityVolume = kBiosStart + 0x580000;
  static constexpr uint32_t kIdentityVolumeLength = 0x80000;
  static constexpr uint32_t kPeiVolume = kBiosStart + 0x600000;
  static constexpr uint32_t kPeiVolumeLength = 0x200000;
};
// Offsets in the sample part of the descriptor and of the serial-number file.
size_t SampleDescriptorOffset();
size_t SampleSerialFileOffset();
Guid SampleSerialFileName();
Guid SampleMacFileName();

}  // namespace sim
