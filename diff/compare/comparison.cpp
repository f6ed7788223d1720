// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/comparison.h"

#include <algorithm>
#include <thread>
#include <unordered_set>

#include "diff/compare/text_format.h"
#include "image/bounded_text.h"
#include "image/identity_checks.h"

namespace pdiff {

namespace {

constexpr uint32_t Status(ExitStatus status) { return static_cast<uint32_t>(status); }

constexpr uint32_t kMinimumBlockSize = 4096;

// The board's seven checks, from the one table the board reads too.
std::vector<IdentityCheck> CheckIdentities(const BiosInfo& main, const BiosInfo& backup) {
  std::vector<IdentityCheck> results;
  for (const ::IdentityCheck& check : kIdentityChecks) {
    // The flash part's name comes from the live mailbox, not from the image.
    const bool answerable = check.Field != IdentityField::FlashPart;
    results.push_back(
        {check.Caption, answerable, !answerable || IdentityFieldsAgree(check, main, backup), Status(check.Status)});
  }
  return results;
}

// The board's verdict in its order: no flash size, then the identity checks
// (the last failing one's status stays), then a region that is not a whole,
// non-zero number of blocks (never compared, so never passed), then the data.
Verdict Decide(const Comparison& result) {
  if (result.geometry.flashSize == 0) return {false, Status(ExitStatus::NotSupported), std::nullopt};
  std::optional<uint32_t> failed;
  for (const IdentityCheck& check : result.checks)
    if (!check.agree) failed = check.status;
  if (failed) return {false, *failed, std::nullopt};
  const uint64_t block = result.geometry.blockSize;
  const uint64_t bios = result.geometry.biosSize;
  if (block == 0 || bios == 0 || bios % block != 0) return {false, Status(ExitStatus::NotSupported), std::nullopt};
  if (!result.differences.empty() && result.differences.kept.front().begin < bios) {
    const uint64_t first = result.differences.kept.front().begin / block * block;
    return {false, Status(ExitStatus::DataMismatch), WindowAddress(result.geometry, first), !result.cutShort.empty()};
  }
  // The blocks one dump lacks would be compared with whatever the chip
  // holds there: never a pass.
  if (!result.cutShort.empty()) {
    std::optional<uint32_t> address;
    if (result.comparedRegion < bios) address = WindowAddress(result.geometry, result.comparedRegion / block * block);
    return {false, Status(ExitStatus::DataMismatch), address, true};
  }
  return {true, Status(ExitStatus::Success), std::nullopt};
}

// Masked areas of both dumps as sorted, merged [begin, end) intervals.
std::vector<std::pair<uint64_t, uint64_t>> MaskedIntervals(const ChipDump& main, const ChipDump& backup) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (const ChipDump* dump : {&main, &backup})
    for (const MaskedArea& area : dump->masked()) spans.emplace_back(area.begin, area.begin + area.length);
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<uint64_t, uint64_t>> merged;
  for (const auto& span : spans) {
    if (!merged.empty() && span.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, span.second);
    else
      merged.push_back(span);
  }
  return merged;
}

// Flash intervals the board masks in either dump, merged, for the files
// whose only differences they hide.
std::vector<std::pair<uint64_t, uint64_t>> MaskedFlashIntervals(const Geometry& geometry, const ChipDump& main,
                                                                const ChipDump& backup) {
  std::vector<std::pair<uint64_t, uint64_t>> spans = MaskedIntervals(main, backup);
  for (auto& span : spans) span = {FlashOffset(geometry, span.first), FlashOffset(geometry, span.second)};
  return spans;
}

// What a number given on the command line changes against what Main's
// descriptor (or the file) gives.
void OptionWarnings(const ChipDump& main, const CompareOptions& options, std::vector<std::string>* warnings) {
  const Geometry own = BoardGeometry(main, {});
  const char* source = main.hasDescriptor() ? "Main's descriptor gives " : "Main's file gives ";
  if (options.flashSize && *options.flashSize != own.flashSize)
    warnings->push_back("--flash-size " + Hex(*options.flashSize) + " places the dumps in a part of that size where " +
                        source + Hex(own.flashSize));
  if (options.biosSize && *options.biosSize != own.biosSize)
    warnings->push_back("--bios-size " + Hex(*options.biosSize) + " makes the board compare the top " +
                        Hex(*options.biosSize) + " bytes where " + source + Hex(own.biosSize));
  if (options.blockSize && *options.blockSize != own.blockSize)
    warnings->push_back("--block-size " + Hex(*options.blockSize) +
                        " sets the blocks of the compare (its FAIL address and the whole-block rule) where " + source +
                        Hex(own.blockSize));
}

std::vector<std::string> Warnings(const ChipDump& main, const ChipDump& backup, const Geometry& geometry,
                                  const CompareOptions& options) {
  std::vector<std::string> warnings;
  OptionWarnings(main, options, &warnings);
  // The board reads with the active chip's geometry: Main's here.
  const Geometry other = PairGeometry(backup, main, options);
  if (other.flashSize != geometry.flashSize || other.biosSize != geometry.biosSize ||
      other.blockSize != geometry.blockSize)
    warnings.push_back("the verdict uses Main's geometry (flash size " + Hex(geometry.flashSize) + ", BIOS size " +
                       Hex(geometry.biosSize) + ", block size " + Hex(geometry.blockSize) +
                       "); with Backup as Main it would use flash size " + Hex(other.flashSize) + ", BIOS size " +
                       Hex(other.biosSize) + ", block size " + Hex(other.blockSize));
  if (!main.hasDescriptor() && !backup.hasDescriptor())
    warnings.push_back("neither dump holds the identity descriptor: the identity checks compare nothing");
  else
    for (const ChipDump* dump : {&main, &backup})
      if (!dump->hasDescriptor())
        warnings.push_back(std::string(dump == &main ? "Main" : "Backup") +
                           " has no identity descriptor: its identity checks compare empty texts");
  if (main.fileSize() != backup.fileSize()) {
    auto placement = [&](const ChipDump& dump) {
      return dump.flashDescriptor() ? "by its own descriptor" : "at the top of the part";
    };
    warnings.push_back("the dumps differ in size (" + std::to_string(main.fileSize()) + " and " +
                       std::to_string(backup.fileSize()) + " bytes): Main is placed " + placement(main) + ", Backup " +
                       placement(backup));
  }
  if (geometry.biosSizeGuessed)
    warnings.push_back("the BIOS size is guessed (" + std::to_string(geometry.biosSize) +
                       " bytes): give --bios-size as the board reports it");
  return warnings;
}

// What one walk met and the other did not (a limit reached, a volume cut
// short): the walk of that dump is not complete. Problems both share are
// no difference, as for two identical files, which are not walked.
void TreeProblemWarnings(const ChipDump& main, const ChipDump& backup, std::vector<std::string>* warnings) {
  constexpr size_t kMostListed = 20;
  for (int side = 0; side < 2; ++side) {
    const auto& own = (side == 0 ? main : backup).tree().problems;
    const auto& otherList = (side == 0 ? backup : main).tree().problems;
    const std::unordered_set<std::string> other(otherList.begin(), otherList.end());
    size_t listed = 0;
    size_t left = 0;
    for (const std::string& problem : own) {
      if (other.count(problem)) continue;
      if (listed++ < kMostListed)
        warnings->push_back(std::string(side == 0 ? "Main" : "Backup") + "'s firmware tree: " + problem);
      else
        ++left;
    }
    if (left > 0) warnings->push_back(std::to_string(left) + " more problems of that tree not listed");
  }
}

// A dump in which nothing firmware-like was found (random bytes, the wrong
// file) makes every file of the other "only in" it: said first, so that the
// lists below are read for what they are.
void NoFirmwareLines(const ChipDump& main, const ChipDump& backup, std::vector<std::string>* lines) {
  std::vector<std::string> found;
  for (const ChipDump* dump : {&main, &backup})
    if (dump->tree().volumes.empty() && !dump->hasDescriptor() && !dump->flashDescriptor())
      found.push_back(std::string(dump == &main ? "Main" : "Backup") +
                      " holds no firmware: no firmware volume, no flash descriptor and no identity descriptor in its " +
                      std::to_string(dump->fileSize()) + " bytes");
  lines->insert(lines->begin(), found.begin(), found.end());
}

std::vector<CutShortDump> CutShortDumps(const Geometry& geometry, const ChipDump& main, const ChipDump& backup) {
  std::vector<CutShortDump> cut;
  for (int index = 0; index < 2; ++index) {
    const ChipDump& dump = index == 0 ? main : backup;
    if (!dump.cutShort()) continue;
    const int64_t start = FileStart(geometry, dump);
    auto flash = [start](uint64_t at) { return uint64_t(std::max<int64_t>(0, int64_t(at) + start)); };
    cut.push_back(
        {index, dump.fileSize(), dump.statedPartSize(), flash(dump.fileSize()), flash(dump.statedPartSize())});
  }
  return cut;
}

// The file itself when it lies in the image, else the file holding the
// decompressed bytes it lies in.
const fwtree::TreeFile* OutermostFile(const fwtree::FirmwareTree& tree, const fwtree::TreeFile& file) {
  const fwtree::TreeFile* at = &file;
  for (size_t steps = 0; !at->offset && at->parentFile >= 0 && steps < tree.files.size(); ++steps)
    at = &tree.files[size_t(at->parentFile)];
  return at;
}

// A file of one dump that lies where the other, cut short, holds nothing
// is missing from that read, not only in the first: left out of the list
// and counted.
uint64_t LeaveOutMissing(const Geometry& geometry, const ChipDump& main, const ChipDump& backup,
                         const std::vector<CutShortDump>& cut, std::vector<FileChange>* files) {
  if (cut.empty()) return 0;
  const auto lacking = [&](int present, const fwtree::TreeFile& file) {
    const ChipDump& dump = present == 0 ? main : backup;
    const fwtree::TreeFile* outer = OutermostFile(dump.tree(), file);
    if (!outer->offset) return false;
    const uint64_t flash = FileFlashOffset(geometry, dump, *outer->offset);
    // A file the cut runs through is missing in part.
    for (const CutShortDump& missing : cut)
      if (missing.dump != present && flash + outer->size > missing.missingBegin && flash < missing.missingEnd)
        return true;
    return false;
  };
  const auto before = files->size();
  files->erase(std::remove_if(files->begin(), files->end(),
                              [&](const FileChange& change) {
                                if (change.main == nullptr) return lacking(1, *change.backup);
                                if (change.backup == nullptr) return lacking(0, *change.main);
                                return false;
                              }),
               files->end());
  return before - files->size();
}

// The dumps' shapes, each in one line: what a reader must know before any
// count below means what it says.
std::vector<std::string> ShapeLines(const Comparison& result, const ChipDump& main, const ChipDump& backup) {
  std::vector<std::string> lines;
  auto name = [](int index) { return std::string(index == 0 ? "Main" : "Backup"); };
  for (const CutShortDump& cut : result.cutShort)
    lines.push_back(name(cut.dump) + " is cut short: its flash descriptor states a part of " +
                    std::to_string(cut.statedSize) + " bytes (" + Hex(cut.statedSize) + "), the file holds " +
                    std::to_string(cut.fileSize) + "; flash " + Hex(cut.missingBegin) + "-" + Hex(cut.missingEnd - 1) +
                    " (" + std::to_string(cut.missingEnd - cut.missingBegin) +
                    " bytes) is missing, and only what both dumps hold is compared");
  for (int index = 0; index < 2; ++index) {
    const ChipDump& dump = index == 0 ? main : backup;
    if (dump.partCopies() > 1)
      lines.push_back(name(index) + " holds the part " +
                      (dump.partCopies() == 2 ? std::string("twice") : std::to_string(dump.partCopies()) + " times") +
                      ": its " + std::to_string(dump.fileSize()) + " bytes repeat the " +
                      std::to_string(dump.statedPartSize()) + " bytes (" + Hex(dump.statedPartSize()) +
                      ") its descriptor states; only the first copy is read for firmware");
  }
  // A BIOS region read alone against a whole part.
  for (int index = 0; index < 2; ++index) {
    const ChipDump& region = index == 0 ? main : backup;
    const ChipDump& whole = index == 0 ? backup : main;
    if (region.hasDescriptor() || region.flashDescriptor() || !whole.flashDescriptor() || !whole.isWholePart() ||
        !region.looksLikeFirmware())
      continue;
    const uint64_t biosBegin = FlashOffset(result.geometry, 0);
    std::string line = name(index) + " is a BIOS region (" + std::to_string(region.fileSize()) + " bytes), " +
                       name(1 - index) + " a whole part (" + std::to_string(whole.fileSize()) +
                       " bytes): " + name(index) + " is placed where " + name(1 - index) +
                       "'s descriptor puts the BIOS region, flash " + Hex(biosBegin) + "-" +
                       Hex(result.geometry.flashSize - 1);
    // One of another length ends at the part's top all the same.
    const int64_t start = FileStart(result.geometry, region);
    if (region.fileSize() != result.geometry.biosSize)
      line += start >= 0
                  ? ", ending at the part's top from flash " + Hex(uint64_t(start))
                  : ", ending at the part's top: its first " + std::to_string(-start) + " bytes lie below the part";
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

int64_t FileStart(const Geometry& geometry, const ChipDump& dump) {
  if (dump.flashDescriptor()) {
    // ReadFlashDescriptor keeps only descriptors with a BIOS region.
    const fwtree::FlashRegion bios = *dump.flashDescriptor()->Region(fwtree::kBiosRegion);
    return int64_t(geometry.flashSize) - int64_t(bios.base + bios.length);
  }
  return int64_t(geometry.flashSize) - int64_t(dump.fileSize());
}

uint64_t RegionEnd(const Geometry& geometry, const ChipDump& dump) {
  return uint64_t(std::max<int64_t>(0, int64_t(geometry.flashSize) - FileStart(geometry, dump)));
}

uint64_t FileFlashOffset(const Geometry& geometry, const ChipDump& dump, uint64_t fileOffset) {
  return uint64_t(std::max<int64_t>(0, int64_t(fileOffset) + FileStart(geometry, dump)));
}

const char* OutsideFlashPartReason(const Geometry& geometry, const ChipDump& dump, uint64_t fileOffset) {
  const int64_t flash = int64_t(fileOffset) + FileStart(geometry, dump);
  if (flash < 0) return "below the flash part of the geometry used";
  if (uint64_t(flash) >= geometry.flashSize) return "beyond the flash part of the geometry used";
  return nullptr;
}

bool InsideFlashPart(const Geometry& geometry, const ChipDump& dump, uint64_t fileOffset) {
  return OutsideFlashPartReason(geometry, dump, fileOffset) == nullptr;
}

std::optional<uint64_t> FlashFileOffset(const Geometry& geometry, const ChipDump& dump, uint64_t flashOffset) {
  const int64_t at = int64_t(flashOffset) - FileStart(geometry, dump);
  if (at < 0 || uint64_t(at) >= dump.fileSize()) return std::nullopt;
  return uint64_t(at);
}

const fwtree::TreeFile* InnermostFileAtFlash(const Geometry& geometry, const ChipDump& dump, uint64_t flashOffset) {
  const std::optional<uint64_t> at = FlashFileOffset(geometry, dump, flashOffset);
  return at ? dump.FileAt(*at) : nullptr;
}

std::string GeometryTrouble(const ChipDump& dump, const CompareOptions& options) {
  if (options.flashSize || options.biosSize) return "";
  const uint32_t block = options.blockSize.value_or(kMinimumBlockSize);
  if (dump.fileSize() < block)
    return std::to_string(dump.fileSize()) + " bytes, shorter than one block of " + std::to_string(block) +
           " bytes; give --flash-size and --bios-size to compare it anyway";
  if (dump.hasDescriptor()) {
    const BiosInfo& info = dump.fileRecord();
    if (dump.fileSize() != info.FlashSize && dump.fileSize() != info.BiosSize)
      return std::to_string(dump.fileSize()) + " bytes, but its descriptor states a flash part of " +
             std::to_string(info.FlashSize) + " bytes with a BIOS region of " + std::to_string(info.BiosSize) +
             "; give --flash-size and --bios-size to compare it anyway";
  }
  return "";
}

void ScanDifferences(const ChipDump& main, const ChipDump& backup, const RangeSink& sink) {
  // What a dump cut short lacks is not compared: it is missing, not erased.
  const uint64_t held = std::min(main.regionHeld(), backup.regionHeld());
  ScanDifferingRanges(main.region(), backup.region(), held, &main.map(), 0, sink, &backup.map());
}

void ScanBelowBiosRegion(const ChipDump& main, const ChipDump& backup, const RangeSink& sink) {
  const uint64_t held = std::min({main.regionFileOffset(), main.fileSize(), backup.fileSize()});
  ScanDifferingRanges(main.file(), backup.file(), held, nullptr, 0, sink);
}

void ScanRawMasked(const ChipDump& main, const ChipDump& backup, const RangeSink& sink) {
  for (const auto& interval : MaskedIntervals(main, backup)) {
    // Named copies: a lambda cannot capture a structured binding in clang 14.
    const uint64_t begin = interval.first;
    const uint64_t end = interval.second;
    const std::vector<uint8_t> a = main.RawRegion(begin, end);
    const std::vector<uint8_t> b = backup.RawRegion(begin, end);
    ScanDifferingRanges(
        a.data(), b.data(), end - begin, &main.map(), begin,
        [&](DifferingRange range) {
          range.begin += begin;
          range.end += begin;
          sink(range);
        },
        &backup.map());
  }
}

uint32_t WindowAddress(const Geometry& geometry, uint64_t regionOffset) {
  return uint32_t((uint64_t(1) << 32) - geometry.biosSize + regionOffset);
}

uint64_t FlashOffset(const Geometry& geometry, uint64_t regionOffset) {
  return geometry.flashSize - geometry.biosSize + regionOffset;
}

Geometry BoardGeometry(const ChipDump& main, const CompareOptions& options) {
  Geometry geometry{main.fileSize(), main.fileSize(), kMinimumBlockSize, true};
  if (main.hasDescriptor()) {
    const BiosInfo& info = main.fileRecord();
    geometry = {info.FlashSize, info.BiosSize, std::max(info.BlockSize, kMinimumBlockSize), false};
  } else if (main.flashDescriptor()) {
    // The BIOS region runs from its base to the top of the part, where the
    // board's window ends; a file longer than that holds more than the
    // part, one shorter is cut short.
    const fwtree::FlashRegion bios = *main.flashDescriptor()->Region(fwtree::kBiosRegion);
    geometry = {bios.base + bios.length, bios.length, kMinimumBlockSize, false};
  }
  if (options.flashSize) geometry.flashSize = *options.flashSize;
  if (options.biosSize) {
    geometry.biosSize = *options.biosSize;
    geometry.biosSizeGuessed = false;
  }
  if (options.blockSize) geometry.blockSize = *options.blockSize;
  return geometry;
}

Geometry PairGeometry(const ChipDump& main, const ChipDump& backup, const CompareOptions& options) {
  auto carriesGeometry = [](const ChipDump& dump) { return dump.hasDescriptor() || dump.flashDescriptor(); };
  const bool fromBackup =
      (!carriesGeometry(main) && carriesGeometry(backup)) || (!main.looksLikeFirmware() && backup.looksLikeFirmware());
  Geometry geometry = BoardGeometry(fromBackup ? backup : main, options);
  geometry.source = fromBackup ? 1 : 0;
  return geometry;
}

Comparison Compare(ChipDump& main, ChipDump& backup, const CompareOptions& options) {
  Comparison result;
  result.geometry = PairGeometry(main, backup, options);
  const uint64_t region = result.geometry.biosSize;
  // Two copies of one file differ nowhere, in any view: nothing is walked.
  const bool same = SameFiles(main, backup);
  // Each region ends where the part ends in that dump's file.
  for (ChipDump* dump : {&main, &backup}) dump->PrepareRegion(region, RegionEnd(result.geometry, *dump));
  result.checks = CheckIdentities(main.record(), backup.record());
  if (!main.hasDescriptor() && !backup.hasDescriptor())
    for (IdentityCheck& check : result.checks) check.applicable = false;
  const uint64_t keep = std::max<uint64_t>(1, options.rangesKept);
  auto into = [keep](RangeList& list) { return [&list, keep](const DifferingRange& range) { list.Add(range, keep); }; };
  result.comparedRegion = std::min(main.regionHeld(), backup.regionHeld());
  result.cutShort = CutShortDumps(result.geometry, main, backup);
  if (!same) ScanDifferences(main, backup, into(result.differences));
  result.verdict = Decide(result);
  result.warnings = Warnings(main, backup, result.geometry, options);
  result.shape = ShapeLines(result, main, backup);

  const auto masked = MaskedFlashIntervals(result.geometry, main, backup);
  const Geometry geometry = result.geometry;
  if (!same) {
    // The two walks (mostly decompression) share nothing: one runs on
    // another core.
    std::thread backupWalk([&backup] { backup.tree(); });
    main.tree();
    backupWalk.join();
    TreeProblemWarnings(main, backup, &result.warnings);
    NoFirmwareLines(main, backup, &result.shape);
    // Files are compared as they were saved, masked bytes included.
    main.ShowUnmasked(true);
    backup.ShowUnmasked(true);
    // Every byte as it is on disk: the masks hide nothing from this count.
    result.whole = CompareWholeFiles(main, backup,
                                     {geometry.flashSize,
                                      {FlashOffset(geometry, 0), FlashOffset(geometry, region)},
                                      masked,
                                      {FileStart(geometry, main), FileStart(geometry, backup)}});
    result.files = CompareFileTrees(
        main.tree(), backup.tree(),
        [&](int dump, uint64_t offset) { return FileFlashOffset(geometry, dump == 0 ? main : backup, offset); },
        [&](uint64_t begin, uint64_t end) {
          auto after = std::upper_bound(masked.begin(), masked.end(), std::make_pair(begin, UINT64_MAX));
          return after != masked.begin() && end <= (after - 1)->second;
        });
    const uint64_t missingFiles = LeaveOutMissing(geometry, main, backup, result.cutShort, &result.files);
    if (missingFiles > 0)
      result.shape.push_back(
          std::to_string(missingFiles) +
          " files lie, wholly or in part, where a dump cut short holds nothing: not listed as only in the other");
    result.variables = CompareVariables(geometry, main, backup);
    main.ShowUnmasked(false);
    backup.ShowUnmasked(false);
    result.causes = FindCauses(main, backup, result);
  }
  // A dump cut short, read twice or a region against a whole part: the
  // shape itself is why such dumps differ.
  AddLayoutCauses(result, &result.causes);

  for (int index = 0; index < 2; ++index) {
    const ChipDump& dump = index == 0 ? main : backup;
    for (const MaskedArea& area : dump.masked()) {
      const uint64_t end = area.begin + area.length;
      result.masked.push_back({index, area, main.RawRegion(area.begin, end) != backup.RawRegion(area.begin, end)});
    }
  }
  if (options.rawMasked) ScanRawMasked(main, backup, into(result.rawMasked));

  // The board never reads below the BIOS region; two whole parts placed
  // alike can still be compared there, over what both hold.
  if (main.isWholePart() && backup.isWholePart() && FileStart(geometry, main) == FileStart(geometry, backup) &&
      main.regionFileOffset() == backup.regionFileOffset() && main.regionFileOffset() > 0) {
    result.belowBiosRegionCompared = true;
    if (!same) ScanBelowBiosRegion(main, backup, into(result.belowBiosRegion));
  } else {
    const bool regions = !main.isWholePart() || !backup.isWholePart();
    result.belowBiosRegionNotCompared =
        regions ? std::string(!main.isWholePart() && !backup.isWholePart() ? "neither dump is a whole part"
                              : !main.isWholePart()                        ? "Main is not a whole part"
                                                                           : "Backup is not a whole part")
                : "the two parts place their BIOS regions differently";
  }
  return result;
}

}  // namespace pdiff
