// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the volume and file walker on one arbitrary image, with
// what it reports checked against the image's bounds, and the noting masks
// checked to write exactly what the plain masks write, where they say.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "image/checksums.h"
#include "image/descriptor_locator.h"
#include "image/masking.h"
#include "image/volume_walker.h"

namespace {

uint8_t* Copy(const uint8_t* data, size_t size) {
  // Exactly sized, so that the sanitizer sees any access past the end.
  uint8_t* copy = static_cast<uint8_t*>(malloc(size ? size : 1));
  memcpy(copy, data, size);
  return copy;
}

void WalkVolumes(const uint8_t* image, size_t size) {
  FirmwareVolume volume;
  uint64_t from = 0;
  while (FindFirmwareVolume(image, size, from, &volume)) {
    if (volume.Offset < from || volume.Offset + volume.Length > size) __builtin_trap();
    uint64_t cursor = 0;
    uint64_t previousEnd = volume.Offset;
    FirmwareFile file;
    while (NextVolumeFile(image, volume, &cursor, &file)) {
      if (file.Offset < previousEnd || file.Offset + file.Size > volume.Offset + volume.Length) __builtin_trap();
      previousEnd = file.Offset + file.Size;
      char name[64];
      if (FileUserInterfaceName(image, file, name, sizeof name) && strlen(name) >= sizeof name) __builtin_trap();
    }
    from = volume.Offset + 4096;
  }
}

struct NoteBounds {
  const uint8_t* begin;
  const uint8_t* end;
};

void CheckNote(void* context, const MaskNote& note) {
  const NoteBounds* bounds = static_cast<const NoteBounds*>(context);
  if (note.At < bounds->begin || note.At > bounds->end || note.Count > uint64_t(bounds->end - note.At))
    __builtin_trap();
}

// The noting masks change the same bytes as the plain ones.
void CompareMasks(const uint8_t* data, size_t size) {
  uint8_t* plain = Copy(data, size);
  uint8_t* noted = Copy(data, size);
  BiosInfo plainInfo{};
  plainInfo.Image = plain;
  plainInfo.ImageSize = size;
  BiosInfo notedInfo{};
  notedInfo.Image = noted;
  notedInfo.ImageSize = size;
  LocateDescriptor(&plainInfo);
  LocateDescriptor(&notedInfo);
  MaskVariableStore(plain, size);
  MaskAreas(plain, &plainInfo);
  NoteBounds bounds{noted, noted + size};
  MaskVariableStoreNoting(noted, size, CheckNote, &bounds);
  MaskAreasNoting(noted, &notedInfo, CheckNote, &bounds);
  if (memcmp(plain, noted, size) != 0) __builtin_trap();

  // Each entry's verdict agrees with the whole table's.
  if (notedInfo.Descriptor != nullptr && size <= 0xFFFFFFFFu) {
    uint8_t* fresh = Copy(data, size);
    const uint8_t* descriptor = fresh + (notedInfo.Descriptor - noted);
    const bool all = VerifyDescriptorChecksums(fresh, uint32_t(size), descriptor);
    bool each = true;
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t computed = 0;
      const ChecksumEntryResult result = CheckChecksumEntry(fresh, uint32_t(size), descriptor, i, &computed);
      if (i < descriptor[98] && result != ChecksumEntryResult::Holds) each = false;
    }
    if (descriptor[99] == 1 && descriptor[98] != 0 && all != each) __builtin_trap();
    free(fresh);
  }
  free(plain);
  free(noted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* image = Copy(data, size);
  WalkVolumes(image, size);
  free(image);
  CompareMasks(data, size);
  return 0;
}
