// SPDX-License-Identifier: BSD-2-Clause-Patent
// Where each byte of a BIOS region belongs: which firmware volume and file,
// or which kind of space between them. Built once per dump from the raw
// bytes, before masking changes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/volume_walker.h"

namespace pdiff {

enum class PlaceKind { File, VolumeHeader, Padding, FreeSpace, VariableStore, OutsideVolumes };

const char* PlaceKindName(PlaceKind kind);

struct MappedFile {
  FirmwareFile file;
  std::string uiName;  // empty when the file has no user-interface section
};

struct MappedVolume {
  FirmwareVolume volume;
  bool variableStore;  // a VSS/VSS2 store volume
  // Which store: "VSS2" (authenticated variables) or "VSS"; empty if none.
  const char* storeFormat;
  std::vector<MappedFile> files;
};

// A run of bytes [begin, end) of one kind; the indexes are -1 where they do
// not apply.
struct Place {
  uint64_t begin;
  uint64_t end;
  PlaceKind kind;
  int volume;
  int file;
};

struct ImageMap {
  std::vector<MappedVolume> volumes;
  std::vector<Place> places;  // sorted, covering the whole image without gaps

  // The place holding `offset`, which must lie inside the image.
  const Place& PlaceOf(uint64_t offset) const;
};

ImageMap MapImage(const uint8_t* image, uint64_t size);

}  // namespace pdiff
