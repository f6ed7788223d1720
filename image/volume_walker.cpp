// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/volume_walker.h"

#include "image/checksums.h"
#include "image/layout.h"
#include "runtime/memory.h"

using namespace image_layout;

namespace {

constexpr uint32_t kExtHeaderName = 0;

}  // namespace

bool VolumeHeaderSumIsZero(const uint8_t* volume, uint64_t available) {
  const uint32_t words = (Load16(volume + kFvHeaderLength) + 1u) / 2;
  if (uint64_t(words) * 2 > available) return false;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < words; ++i) sum += Load16(volume + 2 * i);
  return (sum & 0xFFFF) == 0;
}

bool FileSumsHold(const uint8_t* file, uint32_t size) {
  uint32_t header = 0;
  for (uint32_t i = 0; i < kFileHeaderSize; ++i) header += file[i];
  header -= file[kFileState] + file[kFileDataChecksum];
  if ((header & 0xFF) != 0) return false;
  uint32_t data = file[kFileDataChecksum];
  if (size > kFileHeaderSize) data += ByteSum(file + kFileHeaderSize, size - kFileHeaderSize);
  return (data & 0xFF) == 0;
}

bool ReadFirmwareVolume(const uint8_t* image, uint64_t size, uint64_t offset, FirmwareVolume* volume) {
  if (image == nullptr || offset > size || size - offset < kFvFixedHeaderSize) return false;
  const uint8_t* v = image + offset;
  if (Load32(v + kFvSignature) != kFvSignatureValue) return false;
  const uint64_t available = size - offset;
  volume->Offset = offset;
  volume->DeclaredLength = Load64(v + kFvLength);
  volume->Length = volume->DeclaredLength < available ? volume->DeclaredLength : available;
  volume->HeaderLength = Load16(v + kFvHeaderLength);
  volume->HeaderSumHolds = VolumeHeaderSumIsZero(v, available);
  memcpy(volume->FileSystem, v + kFvFileSystem, 16);
  const uint16_t extOffset = Load16(v + kFvExtHeaderOffset);
  volume->HasName = extOffset != 0 && uint64_t(extOffset) + kFvExtHeaderSize + 4 <= volume->Length;
  if (volume->HasName)
    memcpy(volume->Name, v + extOffset + kExtHeaderName, 16);
  else
    memset(volume->Name, 0, 16);
  return true;
}

bool FindFirmwareVolume(const uint8_t* image, uint64_t size, uint64_t from, FirmwareVolume* volume) {
  for (uint64_t offset = from; offset < size; offset += kVolumeStep)
    if (ReadFirmwareVolume(image, size, offset, volume)) return true;
  return false;
}

// The analysis tools' walk (pellrix-diff, the benchmarks): it places bytes in
// files, so a file must lie whole inside its volume and be at least a header
// long. The board's own walks (masking, the descriptor check) keep their
// rules; they never use this one.
bool NextVolumeFile(const uint8_t* image, const FirmwareVolume& volume, uint64_t* cursor, FirmwareFile* file) {
  if (*cursor == 0) *cursor = volume.HeaderLength;
  const uint64_t offset = *cursor;
  if (offset >= volume.Length || volume.Length - offset < kFileHeaderSize) return false;
  const uint8_t* f = image + volume.Offset + offset;
  const uint32_t size = Load24(f + kFileSize);
  if (size == kFileSizeErased || size < kFileHeaderSize || size > volume.Length - offset) return false;
  file->Offset = volume.Offset + offset;
  file->Size = size;
  memcpy(file->Name, f + kFileName, 16);
  file->Type = f[18];
  file->Attributes = f[kFileAttributes];
  file->State = f[kFileState];
  file->Checksummed = (file->Attributes & kFileAttribChecksum) != 0;
  file->SumsHold = !file->Checksummed || FileSumsHold(f, size);
  *cursor = AlignFile(offset + size);
  return true;
}

bool FileUserInterfaceName(const uint8_t* image, const FirmwareFile& file, char* name, uint32_t capacity) {
  if (capacity == 0) return false;
  const uint8_t* const f = image + file.Offset;
  uint64_t at = kFileHeaderSize;
  while (at + kSectionHeaderSize <= file.Size) {
    const uint8_t* section = f + at;
    uint64_t length = 0;
    uint32_t header = 0;
    if (!ReadSectionHeader(section, file.Size - at, &length, &header)) return false;
    if (length < header || length > file.Size - at) return false;
    if (section[3] == kSectionUserInterface) {
      uint32_t count = 0;
      for (uint64_t c = header; c + 2 <= length && count + 1 < capacity; c += 2) {
        const uint16_t unit = Load16(section + c);
        if (unit == 0) break;
        name[count++] = unit < 0x80 && unit >= 0x20 ? char(unit) : '?';
      }
      name[count] = 0;
      return true;
    }
    at = (at + length + 3) & ~uint64_t(3);
  }
  return false;
}
