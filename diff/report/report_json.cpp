// SPDX-License-Identifier: BSD-2-Clause-Patent
#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "diff/report/causes_report.h"
#include "diff/report/escaped_text.h"
#include "diff/report/file_json.h"
#include "diff/report/json_stream.h"
#include "diff/report/layout_json.h"
#include "diff/compare/byte_areas.h"
#include "diff/compare/range_spans.h"
#include "diff/report/report.h"
#include "diff/compare/text_format.h"
#include "diff/report/variable_report.h"
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

// The ranges are many: each range's own numbers are formatted directly, and
// where it lies (kind, region, volume, files: what it shares with the
// ranges next to it) goes once into the document's table of places, the
// range holding the index of its place.
class RangeWriter {
 public:
  RangeWriter(const Geometry& geometry, const ChipDump& main, const ChipDump& backup)
      : geometry_(geometry), main_(main), backup_(backup) {}

  // The index of the range's place in the table.
  uint64_t PlaceIndex(const DifferingRange& range) {
    const uint64_t flash = FlashOffset(geometry_, range.begin);
    const auto key = std::make_tuple(range.place, InnermostFileAtFlash(geometry_, main_, flash),
                                     InnermostFileAtFlash(geometry_, backup_, flash));
    // Ranges come in flash order, so a place's ranges follow one another:
    // the last place answers most of them without a look-up.
    if (lastPlace_ && lastKey_ == key) return *lastPlace_;
    const auto [at, added] = placeOfKey_.try_emplace(key, 0);
    if (added) {
      json entry = RegionRangeJson(geometry_, main_, backup_, range);
      for (const char* own : {"flash_offset", "window_address", "length", "differing_bytes"}) entry.erase(own);
      at->second = Intern(entry.dump(-1, ' ', false, json::error_handler_t::replace));
    }
    lastKey_ = key;
    lastPlace_ = at->second;
    return at->second;
  }

  // The index of a place given as its JSON text.
  uint64_t Intern(std::string text) {
    const auto [at, added] = placeOfText_.try_emplace(text, places_.size());
    if (added) places_.push_back(std::move(text));
    return at->second;
  }

  // The range's JSON text with the index of its place, valid until the next call.
  const std::string& Text(uint64_t flashOffset, uint64_t windowAddress, const DifferingRange& range, uint64_t place) {
    text_.assign("{\"differing_bytes\":");
    Append(range.differingBytes);
    text_ += ",\"flash_offset\":";
    Append(flashOffset);
    text_ += ",\"length\":";
    Append(range.end - range.begin);
    text_ += ",\"place\":";
    Append(place);
    text_ += ",\"window_address\":";
    Append(windowAddress);
    text_ += '}';
    return text_;
  }
  const std::string& Text(const DifferingRange& range) {
    return Text(FlashOffset(geometry_, range.begin), WindowAddress(geometry_, range.begin), range, PlaceIndex(range));
  }

  // The table, each place once, in the order of first use.
  void WritePlaces(std::ostream& out) const {
    out << '[';
    for (size_t index = 0; index < places_.size(); ++index)
      out << (index == 0 ? "\n    " : ",\n    ") << places_[index];
    out << (places_.empty() ? "]" : "\n  ]");
  }

 private:
  using Key = std::tuple<const Place*, const fwtree::TreeFile*, const fwtree::TreeFile*>;
  struct KeyHash {
    size_t operator()(const Key& key) const {
      const std::hash<const void*> hash;
      return hash(std::get<0>(key)) ^ (hash(std::get<1>(key)) * 31) ^ (hash(std::get<2>(key)) * 1009);
    }
  };
  const Geometry& geometry_;
  const ChipDump& main_;
  const ChipDump& backup_;
  Key lastKey_{};
  std::optional<uint64_t> lastPlace_;
  std::unordered_map<Key, uint64_t, KeyHash> placeOfKey_;
  std::unordered_map<std::string, uint64_t> placeOfText_;
  std::vector<std::string> places_;
  std::string text_;

  void Append(uint64_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    text_.append(digits, end);
  }
};

// Where a range below the BIOS region lies: the descriptor's region.
std::string BelowPlaceText(const char* region) {
  return json{{"kind", "below BIOS region"}, {"region", region != nullptr ? json(region) : json(nullptr)}}.dump(
      -1, ' ', false, json::error_handler_t::replace);
}

uint64_t BelowWindowAddress(const Geometry& geometry, const DifferingRange& range) {
  return uint32_t((uint64_t(1) << 32) - geometry.flashSize + range.begin);
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
      stores.push_back({{"format", volume.storeFormat},
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
          {"sha256", dump.sha256()},
          {"whole_part", dump.isWholePart()},
          {"identity", identity},
          {"descriptor", descriptor},
          {"checksums_ok", dump.checksumsHold() ? json(*dump.checksumsHold()) : json(nullptr)},
          {"variable_stores", stores},
          {"masked", masked}};
}

// Instead of the list `key`: `key_spans`, the ranges gathered into spans of
// the flash (flash_offset, length, differing_bytes, ranges), and span_size.
// The first `*exactLeft` ranges also go in whole (and are taken off it, a
// budget shared by the lists), as one flat array of offset, length and
// differing bytes (`exact_ranges`): a page draws them where its view is
// narrow enough to tell them apart. `exact_spans` counts the leading spans
// whose every range is there. Where each of those ranges lies is its index
// into the document's places (`place` gives it), in `exact_place`.
void WriteSpans(JsonStream& stream, const std::string& key, const std::function<void(const RangeSink&)>& each,
                uint64_t toFlash, const Geometry& geometry, uint64_t* exactLeft,
                const std::function<uint64_t(const DifferingRange&)>& place) {
  const uint64_t mostExactRanges = *exactLeft;
  const uint64_t spanSize = SpanSize(geometry.flashSize, kMostSpans);
  SpanGatherer gatherer(toFlash, spanSize);
  std::vector<uint64_t> exact;
  std::vector<uint64_t> placeOf;
  uint64_t exactCount = 0;
  each([&](const DifferingRange& range) {
    gatherer.Add(range);
    if (exactCount == mostExactRanges) return;
    ++exactCount;
    exact.insert(exact.end(), {range.begin + toFlash, range.end - range.begin, range.differingBytes});
    placeOf.push_back(place(range));
  });
  json spans = json::array();
  uint64_t exactSpans = 0;
  uint64_t rangesSoFar = 0;
  for (const RangeSpan& span : gatherer.spans()) {
    spans.push_back({{"flash_offset", span.flashOffset},
                     {"length", span.length},
                     {"differing_bytes", span.differingBytes},
                     {"ranges", span.ranges}});
    rangesSoFar += span.ranges;
    if (rangesSoFar <= exactCount) ++exactSpans;
  }
  *exactLeft -= exactCount;
  stream.Member(key + "_spans", {{"span_size", spanSize},
                                 {"spans", spans},
                                 {"exact_spans", exactSpans},
                                 {"exact_ranges", exact},
                                 {"exact_place", placeOf}});
}

json WholeFilesJson(const WholeFileDifferences& whole) {
  json areas = json::array();
  for (const AreaDifference& area : whole.areas)
    areas.push_back({{"area", area.name}, {"differing_bytes", area.differingBytes}});
  json length = nullptr;
  if (whole.length.longer >= 0)
    length = {{"longer", whole.length.longer == 0 ? "Main" : "Backup"},
              {"bytes", whole.length.bytes},
              {"not_erased", whole.length.notErased},
              {"beyond_part", whole.length.beyondPart}};
  return {{"identical", whole.identical},
          {"differing_bytes", whole.differingBytes},
          {"descriptor_disagreements", whole.descriptorDisagreements},
          {"areas", areas},
          {"length_difference", length}};
}

json SummaryJson(const Comparison& comparison) {
  const uint64_t bytes = comparison.differences.differingBytes;
  const FileChangeCounts counts = CountFileChanges(comparison.files);
  json warnings = json::array();
  json shape = json::array();
  // The shape comes first among the warnings too, for a reader of those
  // alone.
  for (const std::string& line : comparison.shape) {
    shape.push_back(EscapedText(line));
    warnings.push_back(EscapedText(line));
  }
  for (const std::string& warning : comparison.warnings) warnings.push_back(EscapedText(warning));
  json cutShort = json::array();
  for (const CutShortDump& cut : comparison.cutShort)
    cutShort.push_back({{"dump", cut.dump == 0 ? "Main" : "Backup"},
                        {"size", cut.fileSize},
                        {"stated_size", cut.statedSize},
                        {"missing_flash_offset", cut.missingBegin},
                        {"missing_length", cut.missingEnd - cut.missingBegin}});
  return {{"differing_ranges", comparison.differences.count},
          {"differing_bytes", bytes},
          {"files_changed", counts.changed},
          {"files_moved", counts.moved},
          {"files_only_in_main", counts.onlyInMain},
          {"files_only_in_backup", counts.onlyInBackup},
          {"files_compressed", counts.compressed},
          {"files_unreadable", counts.unreadable},
          {"files_hidden", counts.hidden},
          {"files_masked_only", counts.maskedOnly},
          {"whole_files", WholeFilesJson(comparison.whole)},
          {"not_checked", NotCheckedInADump()},
          {"shape", shape},
          {"cut_short", cutShort},
          {"warnings", warnings}};
}

}  // namespace

void WriteJsonReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked, uint64_t mostListedRanges, uint64_t mostExactRanges,
                     const std::function<void(JsonStream&)>& pageMembers) {
  const Geometry& geometry = comparison.geometry;
  const Verdict& verdict = comparison.verdict;
  JsonStream stream(out);
  stream.Member("format", kJsonFormat);
  stream.Member("verdict", {{"result", verdict.pass ? "PASS" : "FAIL"},
                            {"status", verdict.status},
                            {"status_name", ExitStatusName(verdict.status)},
                            {"address", verdict.address ? json(*verdict.address) : json(nullptr)}});
  json summary = SummaryJson(comparison);
  AddVariableCounts(summary, comparison.variables);
  stream.Member("causes", CausesJson(comparison.causes));
  stream.Member("summary", summary);
  stream.Member(
      "geometry",
      {{"flash_size", geometry.flashSize}, {"bios_size", geometry.biosSize}, {"block_size", geometry.blockSize}});
  json checks = json::array();
  for (const IdentityCheck& check : comparison.checks)
    checks.push_back({{"caption", check.caption},
                      {"result", !check.answerable   ? "not in a dump"
                                 : !check.applicable ? "not applicable"
                                 : check.agree       ? "OK"
                                                     : "ERROR"},
                      {"status", check.status}});
  stream.Member("checks", checks);
  // Each dump's object, then its layout written straight after it. Two
  // copies of one file lie alike on the flash: Backup's layout is Main's,
  // and its tree (most of the time of a report on identical dumps) is not
  // walked.
  const bool sameFiles = SameFiles(main, backup);
  std::string mainLayout;
  std::ostream& dumps = stream.RawMember("dumps");
  dumps << "[";
  for (int index = 0; index < 2; ++index) {
    std::string text = DumpJson(index == 0 ? "main" : "backup", index, index == 0 ? main : backup, comparison)
                           .dump(-1, ' ', false, json::error_handler_t::replace);
    text.pop_back();  // the closing brace
    dumps << (index == 0 ? "" : ",") << text << ",\"layout\":";
    if (sameFiles && index == 0) {
      std::ostringstream layout;
      WriteLayoutJson(layout, geometry, main);
      mainLayout = std::move(layout).str();
    }
    if (sameFiles)
      dumps << mainLayout;
    else
      WriteLayoutJson(dumps, geometry, index == 0 ? main : backup);
    dumps << "}";
  }
  dumps << "]";
  stream.BeginArray("files");
  const std::vector<const ImageChange*> images = ImagesByFile(comparison.causes, comparison.files.size());
  for (size_t i = 0; i < comparison.files.size(); ++i) {
    nlohmann::json entry = FileChangeJson(geometry, main, backup, comparison.files[i]);
    if (images[i] != nullptr) entry["image"] = ImageChangeJson(*images[i]);
    stream.Item(entry);
  }
  stream.EndArray();
  stream.Member("variables", VariablesJson(comparison.variables));
  stream.Member("variable_stores", VariableStoresJson(comparison.variables));
  RangeWriter ranges(geometry, main, backup);
  // Below the BIOS region a range's place is its region: one per name.
  std::unordered_map<const char*, uint64_t> belowPlaces;
  const auto belowPlace = [&](const DifferingRange& range) {
    const char* region = BelowRegionName(main, range.begin);
    const auto [at, added] = belowPlaces.try_emplace(region, 0);
    if (added) at->second = ranges.Intern(BelowPlaceText(region));
    return at->second;
  };
  // Every range of a list, from the comparison when it kept them all, else
  // scanned again as they are written.
  auto each = [&](const RangeList& list, void (*scan)(const ChipDump&, const ChipDump&, const RangeSink&)) {
    return [&list, scan, &main, &backup](const RangeSink& write) {
      if (list.complete()) {
        for (const DifferingRange& range : list.kept) write(range);
      } else {
        scan(main, backup, write);
      }
    };
  };
  const uint64_t regionToFlash = FlashOffset(geometry, 0);
  uint64_t exactLeft = mostExactRanges;
  const auto regionPlace = [&ranges](const DifferingRange& range) { return ranges.PlaceIndex(range); };
  const auto differences = each(comparison.differences, ScanDifferences);
  if (comparison.differences.count > mostListedRanges) {
    WriteSpans(stream, "differences", differences, regionToFlash, geometry, &exactLeft, regionPlace);
  } else {
    stream.BeginArray("differences");
    differences([&](const DifferingRange& range) { stream.RawItem(ranges.Text(range)); });
    stream.EndArray();
  }
  const auto below = each(comparison.belowBiosRegion, ScanBelowBiosRegion);
  if (comparison.belowBiosRegionCompared && comparison.belowBiosRegion.count > mostListedRanges) {
    WriteSpans(stream, "below_bios_region", below, 0, geometry, &exactLeft, belowPlace);
  } else if (comparison.belowBiosRegionCompared) {
    stream.BeginArray("below_bios_region");
    below([&](const DifferingRange& range) {
      stream.RawItem(ranges.Text(range.begin, BelowWindowAddress(geometry, range), range, belowPlace(range)));
    });
    stream.EndArray();
  } else {
    stream.Member("below_bios_region", nullptr);
  }
  const auto rawMasked = each(comparison.rawMasked, ScanRawMasked);
  if (withRawMasked && comparison.rawMasked.count > mostListedRanges) {
    WriteSpans(stream, "masked_differences", rawMasked, regionToFlash, geometry, &exactLeft, regionPlace);
  } else if (withRawMasked) {
    stream.BeginArray("masked_differences");
    rawMasked([&](const DifferingRange& range) { stream.RawItem(ranges.Text(range)); });
    stream.EndArray();
  }
  ranges.WritePlaces(stream.RawMember("places"));
  if (pageMembers) pageMembers(stream);
  stream.End();
}

}  // namespace pdiff
