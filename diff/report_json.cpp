#include "diff/report.h"
#include "diff/text_format.h"

namespace pdiff {

namespace {

using nlohmann::json;

json Guid(const uint8_t* guid) { return GuidText(guid); }

json VolumeJson(const Geometry& geometry, const MappedVolume& mapped) {
  const FirmwareVolume& v = mapped.volume;
  return {{"flash_offset", FlashOffset(geometry, v.Offset)},
          {"length", v.DeclaredLength},
          {"name", v.HasName ? Guid(v.Name) : json(nullptr)},
          {"file_system", Guid(v.FileSystem)},
          {"variable_store", mapped.variableStore}};
}

json FileJson(const Geometry& geometry, const MappedFile& mapped) {
  const FirmwareFile& f = mapped.file;
  return {{"guid", Guid(f.Name)},
          {"type", f.Type},
          {"type_name", FileTypeName(f.Type)},
          {"name", mapped.uiName.empty() ? json(nullptr) : json(mapped.uiName)},
          {"flash_offset", FlashOffset(geometry, f.Offset)},
          {"size", f.Size}};
}

json RegionRangeJson(const Geometry& geometry, const ImageMap& map, const DifferingRange& range) {
  json entry = {{"flash_offset", FlashOffset(geometry, range.begin)},
                {"window_address", WindowAddress(geometry, range.begin)},
                {"length", range.end - range.begin},
                {"differing_bytes", range.differingBytes},
                {"kind", PlaceKindName(range.place->kind)}};
  if (range.place->volume >= 0) {
    const MappedVolume& volume = map.volumes[size_t(range.place->volume)];
    entry["volume"] = VolumeJson(geometry, volume);
    if (range.place->file >= 0) entry["file"] = FileJson(geometry, volume.files[size_t(range.place->file)]);
  }
  return entry;
}

json BelowRangeJson(const Geometry& geometry, const DifferingRange& range) {
  return {{"flash_offset", range.begin},
          {"window_address", uint32_t((uint64_t(1) << 32) - geometry.flashSize + range.begin)},
          {"length", range.end - range.begin},
          {"differing_bytes", range.differingBytes},
          {"kind", "below BIOS region"}};
}

json DumpJson(const char* role, int index, const ChipDump& dump, const Comparison& comparison) {
  const Geometry& geometry = comparison.geometry;
  const BiosInfo& record = dump.record();
  json identity = {{"model_name", record.ModelName}, {"part_number", record.PartNumber},
                   {"version", record.Version},      {"flash_size", record.FlashSize},
                   {"bios_size", record.BiosSize},   {"block_size", record.BlockSize}};
  json descriptor = nullptr;
  if (record.Found)
    descriptor = {{"flash_offset", FlashOffset(geometry, uint64_t(record.Descriptor - dump.region()))},
                  {"volume_flash_offset", FlashOffset(geometry, uint64_t(record.Volume - dump.region()))}};
  json masked = json::array();
  for (const MaskedComparison& item : comparison.masked) {
    if (item.dump != index) continue;
    masked.push_back({{"what", MaskKindName(item.area.kind)},
                      {"file", item.area.hasFile ? Guid(item.area.file) : json(nullptr)},
                      {"flash_offset", FlashOffset(geometry, item.area.begin)},
                      {"window_address", WindowAddress(geometry, item.area.begin)},
                      {"length", item.area.length},
                      {"differs", item.differs}});
  }
  json stores = json::array();
  for (const MappedVolume& volume : dump.map().volumes)
    if (volume.variableStore)
      stores.push_back({{"format", "VSS"}, {"flash_offset", FlashOffset(geometry, volume.volume.Offset)},
                        {"length", volume.volume.DeclaredLength}, {"masked", false}});
  for (const MaskedArea& area : dump.masked())
    if (area.kind == MaskKind::VariableStore)
      stores.push_back({{"format", "NVAR"}, {"flash_offset", FlashOffset(geometry, area.begin)},
                        {"length", area.length}, {"masked", true}});
  return {{"file", dump.path()},
          {"role", role},
          {"size", dump.fileSize()},
          {"whole_part", dump.isWholePart()},
          {"identity", identity},
          {"descriptor", descriptor},
          {"checksums_ok", dump.checksumsHold() ? json(*dump.checksumsHold()) : json(nullptr)},
          {"variable_stores", stores},
          {"masked", masked}};
}

}  // namespace

json JsonReport(const ChipDump& main, const ChipDump& backup, const Comparison& comparison, bool withRawMasked) {
  const Geometry& geometry = comparison.geometry;
  const Verdict& verdict = comparison.verdict;
  json checks = json::array();
  for (const IdentityCheck& check : comparison.checks)
    checks.push_back({{"caption", check.caption},
                      {"result", !check.answerable ? "not in a dump" : check.agree ? "OK" : "ERROR"},
                      {"status", check.status}});
  json differences = json::array();
  for (const DifferingRange& range : comparison.differences)
    differences.push_back(RegionRangeJson(geometry, main.map(), range));
  json below = json::array();
  for (const DifferingRange& range : comparison.belowBiosRegion) below.push_back(BelowRangeJson(geometry, range));
  json report = {
      {"verdict",
       {{"result", verdict.pass ? "PASS" : "FAIL"},
        {"status", verdict.status},
        {"status_name", StatusName(verdict.status)},
        {"address", verdict.address ? json(*verdict.address) : json(nullptr)}}},
      {"geometry",
       {{"flash_size", geometry.flashSize}, {"bios_size", geometry.biosSize}, {"block_size", geometry.blockSize}}},
      {"checks", checks},
      {"dumps", {DumpJson("main", 0, main, comparison), DumpJson("backup", 1, backup, comparison)}},
      {"differences", differences},
      {"below_bios_region", comparison.belowBiosRegionCompared ? below : json(nullptr)},
  };
  if (withRawMasked) {
    json raw = json::array();
    for (const DifferingRange& range : comparison.rawMasked) raw.push_back(RegionRangeJson(geometry, main.map(), range));
    report["masked_differences"] = raw;
  }
  return report;
}

}  // namespace pdiff
