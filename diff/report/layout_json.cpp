// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/layout_json.h"

#include "diff/report/file_json.h"

namespace pdiff {

using nlohmann::json;

json FlashDescriptorJson(const ChipDump& dump) {
  if (!dump.flashDescriptor()) return nullptr;
  json regions = json::array();
  for (const fwtree::FlashRegion& region : dump.flashDescriptor()->regions)
    regions.push_back(
        {{"index", region.index}, {"name", region.name}, {"flash_offset", region.base}, {"length", region.length}});
  return {{"regions", regions}};
}

json TreeVolumeJson(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeVolume& volume) {
  json path = json::array();
  for (const fwtree::Guid& guid : volume.path) path.push_back(fwtree::GuidText(guid));
  // A volume that starts outside the part (below a part shorter than the
  // file) has no flash offset, as a file there has none.
  const char* outside = volume.offset ? OutsideFlashPartReason(geometry, dump, *volume.offset) : nullptr;
  json entry = {
      {"path", path},
      {"file_system", fwtree::GuidText(volume.fileSystem)},
      {"name", volume.name ? json(fwtree::GuidText(*volume.name)) : json(nullptr)},
      {"ffs_version", volume.ffsVersion == 0 ? json(nullptr) : json(volume.ffsVersion)},
      {"flash_offset",
       volume.offset && outside == nullptr ? json(FileFlashOffset(geometry, dump, *volume.offset)) : json(nullptr)},
      {"length", volume.length},
      {"compressed", volume.compressed}};
  if (outside != nullptr) entry["flash_offset_reason"] = outside;
  return entry;
}

void WriteLayoutJson(std::ostream& out, const Geometry& geometry, const ChipDump& dump) {
  out << "{\"files\":[";
  bool first = true;
  for (const fwtree::TreeFile& file : dump.tree().files) {
    if (!file.offset) continue;
    out << (first ? "" : ",") << FileEntryText(geometry, dump, file);
    first = false;
  }
  out << "],\"flash_descriptor\":" << FlashDescriptorJson(dump).dump() << ",\"volumes\":[";
  first = true;
  for (const fwtree::TreeVolume& volume : dump.tree().volumes) {
    if (!volume.offset) continue;
    out << (first ? "" : ",")
        << TreeVolumeJson(geometry, dump, volume).dump(-1, ' ', false, json::error_handler_t::replace);
    first = false;
  }
  out << "]}";
}

}  // namespace pdiff
