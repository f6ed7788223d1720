#include "diff/layout_json.h"

#include "diff/file_json.h"

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
  return {{"path", path},
          {"file_system", fwtree::GuidText(volume.fileSystem)},
          {"name", volume.name ? json(fwtree::GuidText(*volume.name)) : json(nullptr)},
          {"ffs_version", volume.ffsVersion == 0 ? json(nullptr) : json(volume.ffsVersion)},
          {"flash_offset", volume.offset ? json(FileFlashOffset(geometry, dump, *volume.offset)) : json(nullptr)},
          {"length", volume.length},
          {"compressed", volume.compressed}};
}

json LayoutJson(const Geometry& geometry, const ChipDump& dump) {
  json volumes = json::array();
  for (const fwtree::TreeVolume& volume : dump.tree().volumes)
    if (volume.offset) volumes.push_back(TreeVolumeJson(geometry, dump, volume));
  json files = json::array();
  for (const fwtree::TreeFile& file : dump.tree().files) {
    if (!file.offset) continue;
    json entry = FileNameJson(file);
    entry.update(FilePlaceJson(geometry, dump, &file));
    files.push_back(entry);
  }
  return {{"flash_descriptor", FlashDescriptorJson(dump)}, {"volumes", volumes}, {"files", files}};
}

}  // namespace pdiff
