// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/descriptor_locator.h"

#include "image/bounded_text.h"
#include "image/layout.h"
#include "image/volume_walker.h"
#include "runtime/memory.h"

using namespace image_layout;

namespace {

void FillFound(BiosInfo* info, uint8_t* d, uint8_t* volume) {
  FillBoundedText(info->PartNumber, reinterpret_cast<const char*>(d + kDescPartNumber), kPartNumberSize);
  FillBoundedText(info->Version, reinterpret_cast<const char*>(d + kDescVersion), kVersionSize);
  FillBoundedText(info->ModelName, reinterpret_cast<const char*>(d + kDescModelName), kModelNameSize);
  info->AuxWord = Load16(d + kDescAuxWord);
  info->AuxByte1 = d[kDescAuxByte1];
  info->AuxByte2 = d[kDescAuxByte2];
  info->AuxByte3 = d[kDescAuxByte3];
  info->Found = 1;
  info->Descriptor = d;
  info->Volume = volume;
  info->AreaTable = d + Load16(d + kDescAreaTableOffset);
  uint8_t* checksumTable = d + Load16(d + kDescChecksumTableOffset);
  if (d[kDescRevision] == 0x00 && d[kDescRevision + 1] == 0x01) {
    info->ChecksumTableRev100 = checksumTable;
    info->ChecksumTableOther = nullptr;
  } else {
    info->ChecksumTableRev100 = nullptr;
    info->ChecksumTableOther = checksumTable;
  }
  const uint32_t flashSize = Load32(d + kDescFlashSize);
  const uint32_t biosSize = Load32(d + kDescBiosSize);
  const uint32_t blockSize = Load32(d + kDescBlockSize);
  info->FlashSize = flashSize;
  info->BiosSize = biosSize;
  info->BlockSize = blockSize < 4096 ? 4096 : blockSize;
  info->HasBiosOffset = flashSize != biosSize ? 1 : 0;
  info->BiosOffset = flashSize - biosSize;
}

void FillNotFound(BiosInfo* info) {
  info->Found = 0;
  info->AreaTable = nullptr;
  info->Descriptor = nullptr;
  info->ChecksumTableRev100 = nullptr;
  info->ChecksumTableOther = nullptr;
  info->Volume = nullptr;
  info->AuxByte3 = 0;
  info->FlashSize = 0;
  info->BiosSize = 0;
  info->BlockSize = 0;
  info->HasBiosOffset = 0;
  info->BiosOffset = 0;
}

enum class Search { None, Found, WrongFile };

// Looks for the first "$BDR" with its second signature in [volume, volume +
// limit). A candidate whose 192 descriptor bytes or the file name 28 bytes
// before it do not fit in the buffer is passed over like a bad signature.
Search SearchVolume(uint8_t* image, uint8_t* end, uint8_t* volume, uint64_t limit, uint8_t** found) {
  uint64_t offset = 0;
  while (offset < limit) {
    const void* hit = memchr(volume + offset, '$', size_t(limit - offset));
    if (hit == nullptr) return Search::None;
    uint8_t* d = static_cast<uint8_t*>(const_cast<void*>(hit));
    offset = uint64_t(d - volume) + 1;
    if (!Inside(image, end, d, kDescriptorSize) || uint64_t(d - image) < kDescriptorFileOffset) continue;
    if (Load32(d) != kDescriptorSignatureValue) continue;
    if (Load16(d + kDescSignature2) != kDescriptorSignature2Value) continue;
    *found = d;
    return memcmp(d - kDescriptorFileOffset, kDescriptorFileGuid, 16) == 0 ? Search::Found : Search::WrongFile;
  }
  return Search::None;
}

}  // namespace

bool ValidateVolumeFiles(const uint8_t* volume, const uint8_t* end) {
  if (volume == nullptr || end == nullptr || volume > end || uint64_t(end - volume) < kFvFixedHeaderSize) return false;
  const uint64_t available = uint64_t(end - volume);
  const uint64_t fvLength = Load64(volume + kFvLength);
  uint64_t offset = Load16(volume + kFvHeaderLength);
  for (;;) {
    // The descriptor check's walk: erased space, a zero size or the volume's
    // end completes it (true); a file that fails its sums or runs past the
    // buffer fails it. Unlike the masking walk it must vouch for every file
    // it passes, so it also stops at a file it cannot read whole.
    // A walk that ends exactly at the volume's end is complete even when the
    // volume ends at the end of the buffer, so test the length first.
    if (offset >= fvLength) return true;
    if (offset > available || available - offset < kFileHeaderSize) return false;
    const uint8_t* file = volume + offset;
    const uint32_t size = Load24(file + kFileSize);
    if (size == kFileSizeErased || size == 0) return true;
    if (size > available - offset) return false;
    if ((file[kFileAttributes] & kFileAttribChecksum) != 0 && !FileSumsHold(file, size)) return false;
    offset = AlignFile(offset + size);
  }
}

EFI_STATUS LocateDescriptor(BiosInfo* info) {
  if (info == nullptr || info->Image == nullptr || info->ImageSize == 0) return kEfiUnsupported;
  uint8_t* const image = info->Image;
  const uint64_t size = info->ImageSize;
  uint8_t* const end = image + size;
  for (uint64_t back = kVolumeStep; back <= size; back += kVolumeStep) {
    uint8_t* const volume = end - back;
    if (Load32(volume + kFvSignature) != kFvSignatureValue) continue;
    if (!VolumeHeaderSumIsZero(volume, back)) continue;
    if (!ValidateVolumeFiles(volume, end)) continue;
    const uint64_t fvLength = Load64(volume + kFvLength) & 0xFFFFFFFFu;
    const uint64_t limit = fvLength < back ? fvLength : back;
    uint8_t* d = nullptr;
    switch (SearchVolume(image, end, volume, limit, &d)) {
      case Search::None: continue;
      case Search::WrongFile: return kEfiUnsupported;
      case Search::Found: FillFound(info, d, volume); return kEfiSuccess;
    }
  }
  FillNotFound(info);
  return kEfiNotFound;
}
