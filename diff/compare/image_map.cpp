// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/image_map.h"

#include <algorithm>
#include <cstring>

#include "fwtree/guid.h"
#include "fwtree/variable_store.h"

namespace pdiff {

namespace {

constexpr uint64_t kVolumeStep = 4096;
// Shorter "volumes" cannot hold their own fixed header: not taken as volumes.
constexpr uint64_t kMinimumVolumeLength = 56;

void Add(ImageMap* map, uint64_t begin, uint64_t end, PlaceKind kind, int volume = -1, int file = -1) {
  if (begin < end) map->places.push_back(Place{begin, end, kind, volume, file});
}

// Places of one volume, from its header to its (clipped) end.
void MapVolume(const uint8_t* image, ImageMap* map, int index) {
  MappedVolume& mapped = map->volumes[static_cast<size_t>(index)];
  const FirmwareVolume& v = mapped.volume;
  const uint64_t end = v.Offset + v.Length;
  const uint64_t header = std::min<uint64_t>(v.HeaderLength, v.Length);
  Add(map, v.Offset, v.Offset + header, PlaceKind::VolumeHeader, index);
  if (mapped.variableStore) {
    Add(map, v.Offset + header, end, PlaceKind::VariableStore, index);
    return;
  }
  uint64_t cursor = 0;
  uint64_t filesEnd = v.Offset + header;
  FirmwareFile file;
  while (NextVolumeFile(image, v, &cursor, &file)) {
    char name[128];
    MappedFile entry{file, FileUserInterfaceName(image, file, name, sizeof name) ? name : ""};
    mapped.files.push_back(entry);
    // Files begin at 8-byte boundaries: what lies between is padding.
    Add(map, filesEnd, file.Offset, PlaceKind::Padding, index);
    Add(map, file.Offset, file.Offset + file.Size, PlaceKind::File, index, int(mapped.files.size() - 1));
    filesEnd = file.Offset + file.Size;
  }
  Add(map, filesEnd, end, PlaceKind::FreeSpace, index);
}

}  // namespace

const char* PlaceKindName(PlaceKind kind) {
  switch (kind) {
    case PlaceKind::File: return "file";
    case PlaceKind::VolumeHeader: return "volume header";
    case PlaceKind::Padding: return "padding";
    case PlaceKind::FreeSpace: return "free space";
    case PlaceKind::VariableStore: return "variable store";
    case PlaceKind::OutsideVolumes: return "outside volumes";
  }
  return "?";
}

const Place& ImageMap::PlaceOf(uint64_t offset) const {
  auto after = std::upper_bound(places.begin(), places.end(), offset,
                                [](uint64_t value, const Place& place) { return value < place.begin; });
  return *(after - 1);
}

// The store's signature follows the volume header.
const char* StoreFormat(const uint8_t* image, uint64_t size, const FirmwareVolume& volume) {
  const uint64_t at = volume.Offset + volume.HeaderLength;
  if (at + 16 > size) return "VSS";
  const fwtree::Guid signature = fwtree::GuidAt(image + at);
  return signature == fwtree::kAuthenticatedVariableStoreSignature ? "VSS2" : "VSS";
}

ImageMap MapImage(const uint8_t* image, uint64_t size) {
  ImageMap map;
  uint64_t covered = 0;  // bytes before this have their places
  uint64_t searchFrom = 0;
  for (;;) {
    // A volume that follows its neighbour directly is taken even off the
    // 4 KiB grid.
    FirmwareVolume volume;
    const uint64_t aligned = (searchFrom + kVolumeStep - 1) / kVolumeStep * kVolumeStep;
    if (!(searchFrom != aligned && ReadFirmwareVolume(image, size, searchFrom, &volume)) &&
        !FindFirmwareVolume(image, size, aligned, &volume))
      break;
    if (volume.Length < kMinimumVolumeLength) {
      searchFrom = volume.Offset + kVolumeStep;
      continue;
    }
    Add(&map, covered, volume.Offset, PlaceKind::OutsideVolumes);
    const bool store = std::memcmp(volume.FileSystem, kVariableStoreVolumeGuid, 16) == 0;
    map.volumes.push_back(MappedVolume{volume, store, store ? StoreFormat(image, size, volume) : "", {}});
    MapVolume(image, &map, int(map.volumes.size() - 1));
    covered = searchFrom = volume.Offset + volume.Length;
  }
  Add(&map, covered, size, PlaceKind::OutsideVolumes);
  return map;
}

}  // namespace pdiff
