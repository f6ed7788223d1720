// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/masking.h"

#include "image/layout.h"
#include "runtime/memory.h"

using namespace image_layout;

namespace {

// Offset of the volume's first file, or false when the headers that say where
// it is do not fit in the buffer.
bool FirstFileOffset(const uint8_t* volume, uint64_t available, uint64_t* offset) {
  const uint16_t extOffset = Load16(volume + kFvExtHeaderOffset);
  if (extOffset == 0) {
    *offset = Load16(volume + kFvHeaderLength);
    return true;
  }
  if (uint64_t(extOffset) + kFvExtHeaderSize + 4 > available) return false;
  *offset = AlignFile(uint64_t(extOffset) + Load32(volume + extOffset + kFvExtHeaderSize));
  return true;
}

// The first file of `volume` named `name`, or null. The walk ends at erased
// space, a zero size, the volume's length or the end of the buffer. It starts
// at HeaderLength even when there is an extended header (that header counts
// as the first file's content), unlike FirstFileOffset: this is the area
// blanking's own rule, kept so that both chips are masked as they always
// were. The checksum walk (ValidateVolumeFiles) and the volume walker stop
// by rules of their own, each said where it stands.
uint8_t* FindFile(uint8_t* volume, const uint8_t* end, const uint8_t* name) {
  const uint64_t available = uint64_t(end - volume);
  const uint64_t fvLength = Load64(volume + kFvLength);
  uint64_t offset = Load16(volume + kFvHeaderLength);
  for (;;) {
    if (offset >= fvLength || offset > available || available - offset < kFileHeaderSize) return nullptr;
    uint8_t* file = volume + offset;
    const uint32_t size = Load24(file + kFileSize);
    if (size == kFileSizeErased || size == 0) return nullptr;
    if (memcmp(file + kFileName, name, 16) == 0) return file;
    offset = AlignFile(offset + size);
  }
}

void Note(MaskNoteFunction note, void* context, MaskKind kind, const uint8_t* at, uint64_t count,
          const uint8_t* areaFileName = nullptr) {
  if (note != nullptr) note(context, MaskNote{kind, at, count, areaFileName});
}

}  // namespace

void MaskVariableStore(uint8_t* image, uint64_t length) { MaskVariableStoreNoting(image, length, nullptr, nullptr); }

void MaskAreas(uint8_t* image, BiosInfo* info) { MaskAreasNoting(image, info, nullptr, nullptr); }

void MaskVariableStoreNoting(uint8_t* image, uint64_t length, MaskNoteFunction note, void* context) {
  if (image == nullptr) return;
  uint64_t offset = 0;
  while (offset < length) {
    uint8_t* volume = image + offset;
    const uint64_t available = length - offset;
    if (available < kFvFixedHeaderSize || Load32(volume + kFvSignature) != kFvSignatureValue) {
      offset += kVolumeStep;
      continue;
    }
    const uint32_t fvLength = uint32_t(Load64(volume + kFvLength));
    uint64_t first = 0;
    if (FirstFileOffset(volume, available, &first) && first <= available && available - first >= kFileHeaderSize + 4 &&
        Load32(volume + first + kFileHeaderSize) == kVariableStoreSignature) {
      // The store is followed by its spare copy of the same size.
      uint64_t count = uint32_t(fvLength * 2u);
      if (count > available) count = available;
      Note(note, context, MaskKind::VariableStore, volume, count);
      memset(volume, 0xFF, size_t(count));
      return;
    }
    // A zero length would hold the scan in place.
    offset += fvLength != 0 ? fvLength : kVolumeStep;
  }
}

void MaskAreasNoting(uint8_t* image, BiosInfo* info, MaskNoteFunction note, void* context) {
  (void)image;  // the record's pointers say where everything is
  if (info == nullptr || info->Descriptor == nullptr || info->Image == nullptr) return;
  uint8_t* const begin = info->Image;
  const uint8_t* const end = begin + info->ImageSize;
  uint8_t* const descriptor = info->Descriptor;
  if (!Inside(begin, end, descriptor, kDescriptorSize)) return;
  Note(note, context, MaskKind::ChipArea, descriptor + kDescChipArea, kDescChipAreaSize);
  memset(descriptor + kDescChipArea, 0, kDescChipAreaSize);

  uint8_t* const volume = info->Volume;
  const uint8_t* const table = info->AreaTable;
  if (volume == nullptr || table == nullptr || !Inside(begin, end, volume, kFvFixedHeaderSize)) return;
  const uint32_t count = descriptor[kDescAreaCount];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = table + uint64_t(i) * kAreaEntrySize;
    if (!Inside(begin, end, entry, kAreaEntrySize)) break;
    const uint32_t tag = Load32(entry + kAreaTag);
    if (tag == kAreaTagMac || tag == kAreaTagFwr) continue;
    uint8_t* file = FindFile(volume, end, entry + kAreaFileName);
    if (file == nullptr) continue;
    Note(note, context, MaskKind::AreaFileChecksum, file + kFileDataChecksum, 1, entry + kAreaFileName);
    file[kFileDataChecksum] = 0xFF;
    // The body after the section header, clipped to the buffer.
    uint8_t* body = file + kFileHeaderSize + kSectionHeaderSize;
    if (body >= end) continue;
    uint64_t bytes = Load32(entry + kAreaLength);
    if (bytes > uint64_t(end - body)) bytes = uint64_t(end - body);
    Note(note, context, MaskKind::AreaFile, body, bytes, entry + kAreaFileName);
    memset(body, 0xFF, size_t(bytes));
  }
}
