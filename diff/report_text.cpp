#include <iomanip>
#include <sstream>

#include "diff/report.h"
#include "diff/text_format.h"

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

std::string PlaceText(const ImageMap& map, const Geometry& geometry, const Place& place) {
  std::ostringstream text;
  text << PlaceKindName(place.kind);
  if (place.volume < 0) return text.str();
  const MappedVolume& volume = map.volumes[size_t(place.volume)];
  if (place.file >= 0) {
    const MappedFile& file = volume.files[size_t(place.file)];
    text << ' ' << GuidText(file.file.Name) << ' ' << FileTypeName(file.file.Type);
    if (!file.uiName.empty()) text << " \"" << file.uiName << '"';
  }
  text << (volume.variableStore ? ", in the VSS variable store volume at flash " : ", in volume at flash ")
       << Hex(FlashOffset(geometry, volume.volume.Offset));
  if (volume.volume.HasName) text << ' ' << GuidText(volume.volume.Name);
  return text.str();
}

void PrintDump(std::ostream& out, const char* heading, const ChipDump& dump, const Geometry& geometry) {
  const BiosInfo& record = dump.record();
  out << heading << ": " << dump.path() << "\n";
  out << "  " << Caption("File") << dump.fileSize() << " bytes, "
      << (dump.isWholePart() ? "whole part" : "BIOS region") << "\n";
  out << "  " << Caption("Model Name") << record.ModelName << "\n";
  out << "  " << Caption("BiosPart Number") << record.PartNumber << "\n";
  out << "  " << Caption("Bios Version") << record.Version << "\n";
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
      out << "  " << Caption("Variable store (NVAR)") << "flash " << Hex(FlashOffset(geometry, area.begin))
          << ", " << Hex(area.length) << " bytes with its spare, masked\n";
  for (const MappedVolume& volume : dump.map().volumes)
    if (volume.variableStore)
      out << "  " << Caption("Variable store (VSS)") << "flash " << Hex(FlashOffset(geometry, volume.volume.Offset))
          << ", " << Hex(volume.volume.DeclaredLength) << " bytes, not masked on the board\n";
}

void PrintRanges(std::ostream& out, const ImageMap& map, const Geometry& geometry,
                 const std::vector<DifferingRange>& ranges) {
  if (ranges.empty()) out << "  none\n";
  for (const DifferingRange& range : ranges)
    out << "  " << RangeText(geometry, range.begin, range.end - range.begin) << "  "
        << PlaceText(map, geometry, *range.place) << "\n";
}

}  // namespace

const char* StatusName(uint32_t status) {
  switch (status) {
    case 128: return "Success";
    case 130: return "NotSupported";
    case 135: return "FlashSizeMismatch";
    case 136: return "FlashTypeMismatch";
    case 137: return "BlockSizeMismatch";
    case 138: return "BiosSizeMismatch";
    case 139: return "ModelNameMismatch";
    case 140: return "VersionMismatch";
    case 141: return "PartNumberMismatch";
    case 142: return "DataMismatch";
    default: return "?";
  }
}

void PrintTextReport(std::ostream& out, const ChipDump& main, const ChipDump& backup, const Comparison& comparison,
                     bool withRawMasked) {
  const Geometry& geometry = comparison.geometry;
  PrintDump(out, "Main BIOS", main, geometry);
  PrintDump(out, "Backup BIOS", backup, geometry);
  out << "\nGeometry (Main active): flash size " << Hex(geometry.flashSize) << ", BIOS size " << Hex(geometry.biosSize)
      << ", block size " << Hex(geometry.blockSize) << "\n";

  out << "\nIdentity checks\n";
  for (const IdentityCheck& check : comparison.checks)
    out << "  " << check.caption << (!check.answerable ? "not in a dump" : check.agree ? "OK" : "ERROR !!!") << "\n";

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
    PrintRanges(out, main.map(), geometry, comparison.rawMasked);
  }

  out << "\nDifferences after masking\n";
  PrintRanges(out, main.map(), geometry, comparison.differences);

  out << "\nBelow the BIOS region (never read by the board)\n";
  if (!comparison.belowBiosRegionCompared) out << "  not compared: both files must be whole parts of one size\n";
  else if (comparison.belowBiosRegion.empty()) out << "  none\n";
  for (const DifferingRange& range : comparison.belowBiosRegion)
    out << "  flash " << Hex(range.begin) << "  length " << Hex(range.end - range.begin) << "\n";

  const Verdict& verdict = comparison.verdict;
  out << "\nOn-board verdict: " << (verdict.pass ? "PASS" : "FAIL") << ", exit status " << verdict.status << " ("
      << StatusName(verdict.status) << ")";
  if (verdict.address) out << ", FAIL at address " << Hex(*verdict.address);
  out << "\n";
}

}  // namespace pdiff
