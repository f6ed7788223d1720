// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/info_report.h"

#include <algorithm>

#include <vector>

#include "diff/compare/comparison.h"
#include "diff/report/escaped_text.h"
#include "diff/compare/text_format.h"
#include "image/checksums.h"
#include "image/layout.h"

namespace pdiff {

namespace {

using namespace image_layout;

struct ChecksumLine {
  uint32_t address;
  uint32_t length;
  uint32_t stored;
  uint32_t computed;
  ChecksumEntryResult result;
};

// Taken over the whole file before masking changes it.
std::vector<ChecksumLine> ChecksumLines(const ChipDump& dump) {
  std::vector<ChecksumLine> lines;
  if (!dump.hasDescriptor() || dump.fileSize() > 0xFFFFFFFFu) return lines;
  const uint8_t* d = dump.fileRecord().Descriptor;
  const uint8_t* table = d + Load16(d + kDescChecksumTableOffset);
  const uint8_t* end = dump.file() + dump.fileSize();
  for (uint32_t i = 0; i < d[kDescChecksumCount]; ++i) {
    const uint8_t* entry = table + uint64_t(i) * kChecksumEntrySize;
    if (!Inside(dump.file(), end, entry, kChecksumEntrySize)) break;
    ChecksumLine line{Load32(entry + kChecksumAddress),
                      Load32(entry + kChecksumUnitSize) * Load16(entry + kChecksumUnitCount),
                      Load32(entry + kChecksumValue), 0, ChecksumEntryResult::OutsideImage};
    line.result = CheckChecksumEntry(dump.file(), uint32_t(dump.fileSize()), d, i, &line.computed);
    lines.push_back(line);
  }
  return lines;
}

const char* ResultText(ChecksumEntryResult result) {
  switch (result) {
    case ChecksumEntryResult::Holds: return "ok";
    case ChecksumEntryResult::Differs: return "MISMATCH";
    case ChecksumEntryResult::OutsideImage: return "outside the file";
  }
  return "?";
}

void PrintDescriptor(std::ostream& out, const ChipDump& dump, const std::vector<ChecksumLine>& checksums) {
  if (!dump.hasDescriptor()) {
    out << "Descriptor: none found; the file is taken as a BIOS region with an empty identity\n";
    return;
  }
  const BiosInfo& info = dump.fileRecord();
  const uint8_t* d = info.Descriptor;
  out << "Descriptor at file offset " << Hex(dump.descriptorFileOffset()) << ", revision " << Hex(d[kDescRevision])
      << "." << Hex(d[kDescRevision + 1]) << ", checksums "
      << (d[kDescChecksumEnabled] == 1 ? "in force" : "not in force") << "\n";
  out << "  Model Name " << EscapedText(info.ModelName) << ", part number " << EscapedText(info.PartNumber)
      << ", version " << EscapedText(info.Version) << "\n  flash size " << Hex(info.FlashSize) << ", BIOS size "
      << Hex(info.BiosSize) << ", block size " << Hex(info.BlockSize) << "\n";
  out << "  BIOS checksum: " << (dump.checksumsHold().value_or(false) ? "ok" : "FAILED") << "\n";
  for (size_t i = 0; i < checksums.size(); ++i) {
    const ChecksumLine& line = checksums[i];
    out << "  checksum " << i << ": window " << Hex(line.address) << " length " << Hex(line.length) << " stored "
        << Hex(line.stored) << " computed " << Hex(line.computed) << " " << ResultText(line.result) << "\n";
  }
  const uint8_t* table = info.AreaTable;
  const uint8_t* end = dump.file() + dump.fileSize();
  for (uint32_t i = 0; i < d[kDescAreaCount]; ++i) {
    const uint8_t* entry = table + uint64_t(i) * kAreaEntrySize;
    if (!Inside(dump.file(), end, entry, kAreaEntrySize)) break;
    const std::string tag(reinterpret_cast<const char*>(entry + kAreaTag), 4);
    out << "  area " << i << ": " << EscapedText(tag) << " length " << Hex(Load32(entry + kAreaLength)) << " file "
        << GuidText(entry + kAreaFileName) << "\n";
  }
}

void PrintVolumes(std::ostream& out, const ChipDump& dump, const Geometry& geometry) {
  out << "Volumes\n";
  for (const MappedVolume& mapped : dump.map().volumes) {
    const FirmwareVolume& v = mapped.volume;
    out << "  flash " << Hex(FlashOffset(geometry, v.Offset)) << " length " << Hex(v.DeclaredLength)
        << (v.HasName ? " name " + GuidText(v.Name) : std::string()) << " file system " << GuidText(v.FileSystem)
        << (mapped.variableStore ? std::string(" (") + mapped.storeFormat + " variable store)" : std::string())
        << ", header sum " << (v.HeaderSumHolds ? "ok" : "BAD") << "\n";
    for (const MappedFile& file : mapped.files) {
      const FirmwareFile& f = file.file;
      out << "    flash " << Hex(FlashOffset(geometry, f.Offset)) << " size " << Hex(f.Size) << " " << GuidText(f.Name)
          << " " << FileTypeName(f.Type);
      if (!file.uiName.empty()) out << " \"" << EscapedText(file.uiName) << "\"";
      out << ", sums " << (!f.Checksummed ? "not in force" : f.SumsHold ? "ok" : "BAD") << "\n";
    }
  }
}

// Every file of the tree, indented by how deep its volume lies.
void PrintTree(std::ostream& out, const ChipDump& dump, const Geometry& geometry) {
  const fwtree::FirmwareTree& tree = dump.tree();
  out << "Firmware tree (" << tree.files.size() << " files, " << tree.decodedBytes << " bytes decompressed)\n";
  for (const fwtree::TreeFile& file : tree.files) {
    out << std::string(2 * file.path.size(), ' ') << fwtree::GuidText(file.guid) << ' '
        << fwtree::FileTypeName(file.type);
    if (file.name) out << " \"" << EscapedText(*file.name) << '"';
    if (file.offset)
      out << ", flash " << Hex(FileFlashOffset(geometry, dump, *file.offset));
    else
      out << ", compressed";
    out << "\n";
    for (const std::string& problem : file.problems)
      out << std::string(2 * file.path.size() + 2, ' ') << "! " << problem << "\n";
  }
  for (const std::string& problem : tree.problems) out << "  ! " << problem << "\n";
}

}  // namespace

void PrintInfoReport(std::ostream& out, ChipDump& dump) {
  const std::vector<ChecksumLine> checksums = ChecksumLines(dump);
  const Geometry geometry = BoardGeometry(dump, {});
  dump.PrepareRegion(geometry.biosSize, RegionEnd(geometry, dump));
  out << EscapedText(dump.path()) << ": " << dump.fileSize() << " bytes, "
      << (dump.isWholePart() ? "whole part, BIOS region in the top " + Hex(dump.regionSize()) + " bytes"
                             : "BIOS region")
      << "\n";
  if (dump.cutShort())
    out << "  cut short: its flash descriptor states a part of " << dump.statedPartSize() << " bytes ("
        << Hex(dump.statedPartSize()) << "); file offsets " << Hex(dump.fileSize()) << "-"
        << Hex(dump.statedPartSize() - 1) << " are missing\n";
  if (dump.partCopies() > 1)
    out << "  holds the part " << (dump.partCopies() == 2 ? "twice" : std::to_string(dump.partCopies()) + " times")
        << ": the " << dump.statedPartSize() << " bytes (" << Hex(dump.statedPartSize())
        << ") its descriptor states, repeated; only the first copy is walked\n";
  PrintDescriptor(out, dump, checksums);
  PrintVolumes(out, dump, geometry);
  PrintTree(out, dump, geometry);
  out << "Masked on the board\n";
  if (dump.masked().empty()) out << "  nothing\n";
  for (const MaskedArea& area : dump.masked()) {
    out << "  " << MaskKindName(area.kind) << ": flash " << Hex(FlashOffset(geometry, area.begin)) << " length "
        << Hex(area.length);
    if (area.hasFile) out << " file " << GuidText(area.file);
    out << "\n";
  }
}

}  // namespace pdiff
