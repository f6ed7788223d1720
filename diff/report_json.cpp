#include <cstdio>
#include <map>
#include <tuple>

#include "diff/escaped_text.h"
#include "diff/file_digest.h"
#include "diff/file_json.h"
#include "diff/json_stream.h"
#include "diff/layout_json.h"
#include "diff/range_spans.h"
#include "diff/report.h"
#include "diff/text_format.h"
#include "image/identity_checks.h"

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
          {"name", mapped.uiName.empty() ? json(nullptr) : json(EscapedText(mapped.uiName))},
          {"flash_offset", FlashOffset(geometry, f.Offset)},
          {"size", f.Size}};
}

json TreeFileJson(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeFile& file) {
  json named = FileNameJson(file);
  named["type"] = file.type;
  named["flash_offset"] = FileFlashOffset(geometry, dump, *file.offset);
  named["size"] = file.size;
  return named;
}

// The range placed in both layouts: `file` is Main's innermost file holding
// it (or the volume's file from Main's map), `backup_file` Backup's.
json RegionRangeJson(const Geometry& geometry, const ChipDump& main, const ChipDump& backup,
                     const DifferingRange& range) {
  const ImageMap& map = main.map();
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
  const uint64_t flash = FlashOffset(geometry, range.begin);
  if (const fwtree::TreeFile* file = InnermostFileAtFlash(geometry, main, flash))
    entry["file"] = TreeFileJson(geometry, main, *file);
  const fwtree::TreeFile* other = InnermostFileAtFlash(geometry, backup, flash);
  entry["backup_file"] = other != nullptr ? TreeFileJson(geometry, backup, *other) : json(nullptr);
  return entry;
}

// The ranges are many and their places few: each range's own numbers are
// formatted directly, and what it shares with the other ranges of its place
// (kind, volume, files) is serialized once.
class RangeWriter {
 public:
  RangeWriter(const Geometry& geometry, const ChipDump& main, const ChipDump& backup)
      : geometry_(geometry), main_(main), backup_(backup) {}

  std::string Text(const DifferingRange& range) {
    const uint64_t flash = FlashOffset(geometry_, range.begin);
    const auto key = std::make_tuple(range.place, InnermostFileAtFlash(geometry_, main_, flash),
                                     InnermostFileAtFlash(geometry_, backup_, flash));
    auto [shared, added] = shared_.try_emplace(key);
    if (added) {
      json entry = RegionRangeJson(geometry_, main_, backup_, range);
      for (const char* own : {"flash_offset", "window_address", "length", "differing_bytes"}) entry.erase(own);
      shared->second = entry.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    char numbers[160];
    std::snprintf(numbers, sizeof numbers,
                  "{\"differing_bytes\":%llu,\"flash_offset\":%llu,\"length\":%llu,\"window_address\":%llu,",
                  static_cast<unsigned long long>(range.differingBytes), static_cast<unsigned long long>(flash),
                  static_cast<unsigned long long>(range.end - range.begin),
                  static_cast<unsigned long long>(WindowAddress(geometry_, range.begin)));
    return numbers + shared->second.substr(1);
  }

 private:
  using Key = std::tuple<const Place*, const fwtree::TreeFile*, const fwtree::TreeFile*>;
  const Geometry& geometry_;
  const ChipDump& main_;
  const ChipDump& backup_;
  std::map<Key, std::string> shared_;
};

json BelowRangeJson(const Geometry& geometry, const ChipDump& main, const DifferingRange& range) {
  const char* region = BelowRegionName(main, range.begin);
  return {{"flash_offset", range.begin},
          {"window_address", uint32_t((uint64_t(1) << 32) - geometry.flashSize + range.begin)},
          {"length", range.end - range.begin},
          {"differing_bytes", range.differingBytes},
          {"kind", "below BIOS region"},
          {"region", region != nullptr ? json(region) : json(nullptr)}};
}

json DumpJson(const char* role, int index, const ChipDump& dump, const Comparison& comparison) {
  const Geometry& geometry = comparison.geometry;
  const BiosInfo& record = dump.record();
  json identity = {{"model_name", EscapedText(record.ModelName)},
                   {"part_number", EscapedText(record.PartNumber)},
                   {"version", EscapedText(record.Version)},
                   {"flash_size", record.FlashSize},
                   {"bios_size", record.BiosSize},
                   {"block_size", record.BlockSize}};
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
      stores.push_back({{"format", "VSS"},
                        {"flash_offset", FlashOffset(geometry, volume.volume.Offset)},
                        {"length", volume.volume.DeclaredLength},
                        {"masked", false}});
  for (const MaskedArea& area : dump.masked())
    if (area.kind == MaskKind::VariableStore)
      stores.push_back({{"format", "NVAR"},
                        {"flash_offset", FlashOffset(geometry, area.begin)},
                        {"length", area.length},
                        {"masked", true}});
  return {{"file", EscapedText(dump.path())},
          {"role", role},
          {"size", dump.fileSize()},
          {"sha256", Sha256Hex(dump.pristineFile(), dump.fileSize())},
          {"whole_part", dump.isWholePart()},
          {"identity", identity},
          {"descriptor", descriptor},
          {"checksums_ok", dump.checksumsHold() ? json(*dump.checksumsHold()) : json(nullptr)},
          {"variable_stores", stores},
          {"masked", masked},
          {"layout", LayoutJson(geometry, dump)}};
}

// Instead of the list `key`: `key_spans`, the ranges gathered into spans of
// the flash (flash_offset, length, differing_bytes, ranges), and span_size.
void WriteSpans(JsonStream& stream, const std::string& key, const std::vector<DifferingRange>& ranges, uint64_t toFlash,
                const Geometry& geometry) {
  const uint64_t spanSize = SpanSize(geometry.flashSize, kMostSpans);
  json spans = json::array();
  for (const RangeSpan& span : GatherSpans(ranges, toFlash, spanSize))
    spans.push_back({{"flash_offset", span.flashOffset},
                     {"length", span.length},
                     {"differing_bytes", span.differingBytes},
                     {"ranges", span.ranges}});
  stream.Member(key + "_spans", {{"span_size", spanSize}, {"spans", spans}});
}

json SummaryJson(const Comparison& comparison) {
  uint64_t bytes = 0;
  for (const DifferingRange& range : comparison.differences) bytes += range.differingBytes;
  const FileChangeCounts counts = CountFileChanges(comparison.files);
  json warnings = json::array();
  for (const std::string& warning : comparison.warnings) warnings.push_back(EscapedText(warning));
  return {{"differing_ranges", comparison.differences.size()},
          {"differing_bytes", bytes},
          {"files_changed", counts.changed},
          {"files_moved", counts.moved},
          {"files_only_in_main", counts.onlyInMain},
          {"files_only_in_backup", counts.onlyInBackup},
          {"files_compressed", counts.compressed},
          {"not_checked", NotCheckedInADump()},
          {"warnings", warnings}};
}

}  // namespace

void WriteJsonReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked, uint64_t mostListedRanges) {
  const Geometry& geometry = comparison.geometry;
  const Verdict& verdict = comparison.verdict;
  JsonStream stream(out);
  stream.Member("verdict", {{"result", verdict.pass ? "PASS" : "FAIL"},
                            {"status", verdict.status},
                            {"status_name", ExitStatusName(verdict.status)},
                            {"address", verdict.address ? json(*verdict.address) : json(nullptr)}});
  stream.Member("summary", SummaryJson(comparison));
  stream.Member(
      "geometry",
      {{"flash_size", geometry.flashSize}, {"bios_size", geometry.biosSize}, {"block_size", geometry.blockSize}});
  json checks = json::array();
  for (const IdentityCheck& check : comparison.checks)
    checks.push_back({{"caption", check.caption},
                      {"result", !check.answerable ? "not in a dump"
                                 : check.agree     ? "OK"
                                                   : "ERROR"},
                      {"status", check.status}});
  stream.Member("checks", checks);
  stream.Member("dumps", {DumpJson("main", 0, main, comparison), DumpJson("backup", 1, backup, comparison)});
  stream.BeginArray("files");
  for (const FileChange& change : comparison.files) stream.Item(FileChangeJson(geometry, main, backup, change));
  stream.EndArray();
  RangeWriter ranges(geometry, main, backup);
  const uint64_t regionToFlash = FlashOffset(geometry, 0);
  if (comparison.differences.size() > mostListedRanges) {
    WriteSpans(stream, "differences", comparison.differences, regionToFlash, geometry);
  } else {
    stream.BeginArray("differences");
    for (const DifferingRange& range : comparison.differences) stream.RawItem(ranges.Text(range));
    stream.EndArray();
  }
  if (comparison.belowBiosRegionCompared && comparison.belowBiosRegion.size() > mostListedRanges) {
    WriteSpans(stream, "below_bios_region", comparison.belowBiosRegion, 0, geometry);
  } else if (comparison.belowBiosRegionCompared) {
    stream.BeginArray("below_bios_region");
    for (const DifferingRange& range : comparison.belowBiosRegion) stream.Item(BelowRangeJson(geometry, main, range));
    stream.EndArray();
  } else {
    stream.Member("below_bios_region", nullptr);
  }
  if (withRawMasked && comparison.rawMasked.size() > mostListedRanges) {
    WriteSpans(stream, "masked_differences", comparison.rawMasked, regionToFlash, geometry);
  } else if (withRawMasked) {
    stream.BeginArray("masked_differences");
    for (const DifferingRange& range : comparison.rawMasked) stream.RawItem(ranges.Text(range));
    stream.EndArray();
  }
  stream.End();
}

}  // namespace pdiff
