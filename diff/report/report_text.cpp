// SPDX-License-Identifier: BSD-2-Clause-Patent
#include <algorithm>
#include <cstring>
#include <iomanip>
#include <map>
#include <sstream>

#include "diff/report/causes_report.h"
#include "diff/report/escaped_text.h"
#include "diff/report/report.h"
#include "diff/compare/text_format.h"
#include "diff/report/variable_report.h"
#include "image/identity_checks.h"

namespace pdiff {

namespace {

constexpr int kCaptionWidth = 32;

std::string Caption(const std::string& text) {
  std::string caption = text;
  caption.resize(kCaptionWidth - 1, '.');
  return caption + " ";
}

std::string RangeText(const Geometry& geometry, uint64_t begin, uint64_t length) {
  return "window " + Hex(WindowAddress(geometry, begin)) + "  flash " + Hex(FlashOffset(geometry, begin)) +
         "  length " + Hex(length);
}

std::string FileText(const fwtree::TreeFile& file) {
  std::string text = fwtree::GuidText(file.guid) + ' ' + fwtree::FileTypeName(file.type);
  if (file.name) text += " \"" + EscapedText(*file.name) + '"';
  return text;
}

std::string PlaceText(const ChipDump& main, const ChipDump& backup, const Geometry& geometry,
                      const DifferingRange& range) {
  const ImageMap& map = main.map();
  const Place& place = *range.place;
  std::ostringstream text;
  text << PlaceKindName(place.kind);
  if (place.volume < 0) return text.str();
  const MappedVolume& volume = map.volumes[size_t(place.volume)];
  const uint64_t flash = FlashOffset(geometry, range.begin);
  const fwtree::TreeFile* inner = InnermostFileAtFlash(geometry, main, flash);
  if (inner != nullptr) {
    text << ' ' << FileText(*inner);
  } else if (place.file >= 0) {
    const MappedFile& file = volume.files[size_t(place.file)];
    text << ' ' << GuidText(file.file.Name) << ' ' << FileTypeName(file.file.Type);
    if (!file.uiName.empty()) text << " \"" << EscapedText(file.uiName) << '"';
  }
  if (volume.variableStore)
    text << ", in the " << volume.storeFormat << " variable store volume at flash ";
  else
    text << ", in volume at flash ";
  text << Hex(FlashOffset(geometry, volume.volume.Offset));
  if (volume.volume.HasName) text << ' ' << GuidText(volume.volume.Name);
  // Backup's layout may put another file there (a file that grew or moved).
  const fwtree::TreeFile* other = InnermostFileAtFlash(geometry, backup, flash);
  if (other != nullptr && (inner == nullptr || other->guid != inner->guid || other->offset != inner->offset))
    text << "; in Backup " << FileText(*other);
  return text.str();
}

void PrintDump(std::ostream& out, const char* heading, const ChipDump& dump, const Geometry& geometry) {
  const BiosInfo& record = dump.record();
  out << heading << ": " << EscapedText(dump.path()) << "\n";
  out << "  " << Caption("File") << dump.fileSize() << " bytes, " << (dump.isWholePart() ? "whole part" : "BIOS region")
      << "\n";
  out << "  " << Caption("Model Name") << EscapedText(record.ModelName) << "\n";
  out << "  " << Caption("BiosPart Number") << EscapedText(record.PartNumber) << "\n";
  out << "  " << Caption("Bios Version") << EscapedText(record.Version) << "\n";
  out << "  " << Caption("Flash/BIOS/block size") << Hex(record.FlashSize) << " / " << Hex(record.BiosSize) << " / "
      << Hex(record.BlockSize) << "\n";
  out << "  " << Caption("Descriptor");
  if (record.Found)
    out << "flash " << Hex(FlashOffset(geometry, uint64_t(record.Descriptor - dump.region()))) << "\n";
  else
    out << "none in the BIOS region\n";
  out << "  " << Caption("BIOS checksum");
  if (!dump.checksumsHold())
    out << "no descriptor\n";
  else
    out << (*dump.checksumsHold() ? "ok" : "FAILED") << "\n";
  for (const MaskedArea& area : dump.masked())
    if (area.kind == MaskKind::VariableStore)
      out << "  " << Caption("Variable store (NVAR)") << "flash " << Hex(FlashOffset(geometry, area.begin)) << ", "
          << Hex(area.length) << " bytes with its spare, masked\n";
  for (const MappedVolume& volume : dump.map().volumes)
    if (volume.variableStore)
      out << "  " << Caption(std::string("Variable store (") + volume.storeFormat + ")") << "flash "
          << Hex(FlashOffset(geometry, volume.volume.Offset)) << ", " << Hex(volume.volume.DeclaredLength)
          << " bytes, not masked on the board\n";
}

void PrintLeftOut(std::ostream& out, uint64_t total, uint64_t shown) {
  if (total > shown) out << "  ... " << total - shown << " more not shown (--max-ranges " << shown << ")\n";
}

void PrintRanges(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Geometry& geometry,
                 const RangeList& ranges, uint64_t maxRanges) {
  if (ranges.empty()) out << "  none\n";
  const uint64_t shown = std::min<uint64_t>(maxRanges, ranges.kept.size());
  for (uint64_t i = 0; i < shown; ++i)
    out << "  " << RangeText(geometry, ranges.kept[i].begin, ranges.kept[i].end - ranges.kept[i].begin) << "  "
        << PlaceText(main, backup, geometry, ranges.kept[i]) << "\n";
  PrintLeftOut(out, ranges.count, shown);
}

std::string VerdictText(const Verdict& verdict) {
  std::string text = std::string(verdict.pass ? "PASS" : "FAIL") + ", exit status " + std::to_string(verdict.status) +
                     " (" + ExitStatusName(verdict.status) + ")";
  if (verdict.address) text += ", FAIL at address " + Hex(*verdict.address);
  if (verdict.cutShort) text += "; a dump is cut short, so the board's result is not known";
  return text;
}

// Every byte of both files, whatever the board compares: one line per area
// that differs, after any disagreement of the two descriptors.
std::vector<std::string> WholeFileLines(const WholeFileDifferences& whole) {
  if (whole.identical) return {"Whole files: byte-identical"};
  std::vector<std::string> lines;
  for (const std::string& disagreement : whole.descriptorDisagreements)
    lines.push_back("Descriptors disagree on " + disagreement);
  for (const AreaDifference& area : whole.areas)
    lines.push_back(area.name + ": " + std::to_string(area.differingBytes) + " bytes differ");
  if (whole.length.longer >= 0)
    lines.push_back(std::string(whole.length.longer == 0 ? "Main" : "Backup") + " is longer by " +
                    std::to_string(whole.length.bytes) + " bytes (" + Hex(whole.length.bytes) + "), " +
                    std::to_string(whole.length.notErased) + " of them not erased" +
                    (whole.length.beyondPart == 0 ? ""
                     : whole.length.beyondPart == whole.length.bytes
                         ? ", all beyond the flash part"
                         : ", " + std::to_string(whole.length.beyondPart) + " beyond the flash part"));
  return lines;
}

void PrintSummary(std::ostream& out, const Comparison& comparison) {
  const uint64_t bytes = comparison.differences.differingBytes;
  const FileChangeCounts counts = CountFileChanges(comparison.files);
  out << "On-board verdict: " << VerdictText(comparison.verdict) << "\n";
  // The dumps' shapes first (a dump cut short, a region, a part read
  // twice), then why the chips differ.
  for (const std::string& line : comparison.shape) out << "  " << EscapedText(line) << "\n";
  // A layout cause is the shape lines' own fact, said just above.
  for (const Cause& cause : comparison.causes.causes)
    if (cause.kind != CauseKind::Layout) out << "  cause: " << EscapedText(cause.text) << "\n";
  for (const std::string& line : WholeFileLines(comparison.whole)) out << "  " << line << "\n";
  out << "  not checked in a dump: " << NotCheckedInADump() << "\n";
  out << "Differences after masking: " << comparison.differences.count << " ranges, " << bytes << " bytes\n";
  out << "Files: " << counts.changed << " changed, " << counts.moved << " moved, " << counts.onlyInMain
      << " only in Main, " << counts.onlyInBackup << " only in Backup (" << counts.compressed
      << " inside compressed volumes)";
  if (counts.unreadable > 0) out << "; " << counts.unreadable << " unreadable on one side";
  if (counts.hidden > 0) out << ", " << counts.hidden << " hidden by them";
  if (counts.maskedOnly > 0) out << "; " << counts.maskedOnly << " differ only in masked areas";
  out << "\n";
  PrintVariableSummary(out, comparison.variables);
  for (const std::string& warning : comparison.warnings) out << "Warning: " << EscapedText(warning) << "\n";
}

std::string SideText(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeFile* file) {
  if (file == nullptr) return "-";
  std::string text = Hex(file->size) + " bytes";
  if (!file->offset) return text + ", compressed";
  if (const char* outside = OutsideFlashPartReason(geometry, dump, *file->offset))
    return text + ", " + std::string(outside).substr(0, std::string(outside).find(" of the"));
  return text + " at flash " + Hex(FileFlashOffset(geometry, dump, *file->offset));
}

const char* KindText(const FileChange& change) {
  if (change.kind == FileChangeKind::Moved && change.contentChanged) return "moved+changed";
  if (change.kind == FileChangeKind::MaskedOnly) return "masked only";
  return FileChangeName(change.kind);
}

// Sizes and places on both sides, and what else sets the change apart.
std::string HowItDiffers(const Geometry& geometry, const ChipDump& main, const ChipDump& backup,
                         const FileChange& change) {
  std::string text = "  [Main " + SideText(geometry, main, change.main) + "; Backup " +
                     SideText(geometry, backup, change.backup) + "]";
  if (change.BetweenVolumes())
    text += " moved from volume " + fwtree::GuidText(change.main->path.back()) + " to volume " +
            fwtree::GuidText(change.backup->path.back());
  if (!change.reason.empty()) text += " (" + EscapedText(change.reason) + ")";
  if (change.hiddenBy != nullptr) text += " inside " + FileText(*change.hiddenBy) + ", which that side cannot open";
  if (change.kind == FileChangeKind::MaskedOnly) text += " (differs only in masked areas)";
  const auto& mainVersion = change.main != nullptr ? change.main->version : std::nullopt;
  const auto& backupVersion = change.backup != nullptr ? change.backup->version : std::nullopt;
  if (mainVersion && (!backupVersion || mainVersion == backupVersion || change.backup == nullptr))
    text += " version \"" + EscapedText(*mainVersion) + '"';
  if (backupVersion && mainVersion != backupVersion)
    text += (mainVersion ? " in Main, \"" : " version \"") + EscapedText(*backupVersion) + '"' +
            (mainVersion ? " in Backup" : "");
  return text;
}

std::string PathText(const std::vector<fwtree::Guid>& path) {
  std::string text;
  for (const fwtree::Guid& guid : path) text += (text.empty() ? "" : " > ") + fwtree::GuidText(guid);
  return text;
}

// Files grouped by the volume that holds them, in the order they appear;
// grouped through a map, since a dump may hold many volumes and files.
void PrintFileChanges(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Geometry& geometry,
                      const std::vector<FileChange>& changes, const CauseAnalysis& causes) {
  const std::vector<const ImageChange*> images = ImagesByFile(causes, changes.size());
  out << "\nFiles that differ, by volume\n";
  if (changes.empty()) out << "  none\n";
  std::map<std::vector<fwtree::Guid>, size_t> groupOfPath;
  std::vector<std::vector<const FileChange*>> groups;
  for (const FileChange& change : changes) {
    const fwtree::TreeFile& file = change.main != nullptr ? *change.main : *change.backup;
    auto [found, added] = groupOfPath.try_emplace(file.path, groups.size());
    if (added) groups.emplace_back();
    groups[found->second].push_back(&change);
  }
  // The change column is as wide as its longest label, so none runs into
  // the name after it.
  size_t labelWidth = std::strlen("moved+changed");
  for (const FileChange& change : changes) labelWidth = std::max(labelWidth, std::strlen(KindText(change)));
  for (const auto& group : groups) {
    const FileChange& first = *group.front();
    const std::vector<fwtree::Guid>& path = (first.main != nullptr ? *first.main : *first.backup).path;
    const std::string text = PathText(path);
    if (text.size() <= 86) {
      out << "  volume " << text << "\n";
    } else {
      out << "  volume " << fwtree::GuidText(path.back()) << "\n    in "
          << PathText(std::vector<fwtree::Guid>(path.begin(), path.end() - 1)) << "\n";
    }
    for (const FileChange* change : group) {
      const fwtree::TreeFile& file = change->main != nullptr ? *change->main : *change->backup;
      out << "    " << std::left << std::setw(int(labelWidth + 2)) << KindText(*change) << FileText(file);
      if (file.index > 0) out << " #" << file.index;
      out << HowItDiffers(geometry, main, backup, *change) << "\n";
      if (const ImageChange* image = images[size_t(change - changes.data())])
        for (const std::string& line : ImageChangeLines(*image)) out << "        " << line << "\n";
    }
  }
}

}  // namespace

const char* NotCheckedInADump() { return "the flash type, and whether the board's switch and reads succeed"; }

const char* BelowRegionName(const ChipDump& main, uint64_t flashOffset) {
  if (!main.flashDescriptor()) return nullptr;
  for (const fwtree::FlashRegion& region : main.flashDescriptor()->regions)
    if (region.index != fwtree::kBiosRegion && flashOffset >= region.base && flashOffset - region.base < region.length)
      return region.name;
  return nullptr;
}

void PrintTextReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked, uint64_t maxRanges) {
  const Geometry& geometry = comparison.geometry;
  PrintSummary(out, comparison);
  PrintFileChanges(out, main, backup, geometry, comparison.files, comparison.causes);
  PrintVariableChanges(out, comparison.variables);
  out << "\n";
  PrintDump(out, "Main BIOS", main, geometry);
  PrintDump(out, "Backup BIOS", backup, geometry);
  out << "\nGeometry (Main active): flash size " << Hex(geometry.flashSize) << ", BIOS size " << Hex(geometry.biosSize)
      << ", block size " << Hex(geometry.blockSize) << "\n";

  out << "\nIdentity checks\n";
  for (const IdentityCheck& check : comparison.checks)
    out << "  " << check.caption
        << (!check.answerable   ? "not in a dump"
            : !check.applicable ? "not applicable (no identity descriptor in either dump)"
            : check.agree       ? "OK"
                                : "ERROR !!!")
        << "\n";

  out << "\nMasked areas\n";
  if (comparison.masked.empty()) out << "  none\n";
  for (const MaskedComparison& item : comparison.masked) {
    out << "  " << (item.dump == 0 ? "Main   " : "Backup ") << std::left << std::setw(20)
        << MaskKindName(item.area.kind) << RangeText(geometry, item.area.begin, item.area.length);
    if (item.area.hasFile) out << "  " << GuidText(item.area.file);
    out << (item.differs ? "  differs (expected)" : "  same") << "\n";
  }
  if (withRawMasked) {
    out << "\nRaw differences inside masked areas\n";
    PrintRanges(out, main, backup, geometry, comparison.rawMasked, maxRanges);
  }

  out << "\nDifferences after masking\n";
  PrintRanges(out, main, backup, geometry, comparison.differences, maxRanges);

  out << "\nBelow the BIOS region (never read by the board)\n";
  if (!comparison.belowBiosRegionCompared)
    out << "  not compared: " << comparison.belowBiosRegionNotCompared << "\n";
  else if (comparison.belowBiosRegion.empty())
    out << "  none\n";
  const uint64_t shown = std::min<uint64_t>(maxRanges, comparison.belowBiosRegion.kept.size());
  for (uint64_t i = 0; i < shown; ++i) {
    const DifferingRange& range = comparison.belowBiosRegion.kept[i];
    const char* region = BelowRegionName(main, range.begin);
    out << "  flash " << Hex(range.begin) << "  length " << Hex(range.end - range.begin);
    if (region != nullptr) out << "  " << region << " region";
    out << "\n";
  }
  PrintLeftOut(out, comparison.belowBiosRegion.count, shown);

  out << "\nOn-board verdict: " << VerdictText(comparison.verdict) << "\n";
}

}  // namespace pdiff
