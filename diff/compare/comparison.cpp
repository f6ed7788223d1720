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
    return {false, Status(ExitStatus::DataMismatch), WindowAddress(result.geometry, first)};
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
  const Geometry other = BoardGeometry(backup, options);
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
      return FileStart(geometry, dump) == 0 && dump.flashDescriptor() ? "from the bottom of the part by its descriptor"
                                                                      : "at the top of the part";
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
void NoFirmwareWarnings(const ChipDump& main, const ChipDump& backup, std::vector<std::string>* warnings) {
  std::vector<std::string> lines;
  for (const ChipDump* dump : {&main, &backup})
    if (dump->tree().volumes.empty() && !dump->hasDescriptor() && !dump->flashDescriptor())
      lines.push_back(std::string(dump == &main ? "Main" : "Backup") +
                      " holds no firmware: no firmware volume, no flash descriptor and no identity descriptor in its " +
                      std::to_string(dump->fileSize()) + " bytes");
  warnings->insert(warnings->begin(), lines.begin(), lines.end());
}

}  // namespace

int64_t FileStart(const Geometry& geometry, const ChipDump& dump) {
  if (dump.flashDescriptor() && dump.fileSize() >= geometry.flashSize) return 0;
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
  ScanDifferingRanges(main.region(), backup.region(), main.regionSize(), &main.map(), 0, sink, &backup.map());
}

void ScanBelowBiosRegion(const ChipDump& main, const ChipDump& backup, const RangeSink& sink) {
  ScanDifferingRanges(main.file(), backup.file(), main.regionFileOffset(), nullptr, 0, sink);
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
    // board's window ends; a file longer than that holds more than the part.
    const auto bios = main.flashDescriptor()->Region(fwtree::kBiosRegion);
    if (bios && bios->base + bios->length <= main.fileSize())
      geometry = {bios->base + bios->length, bios->length, kMinimumBlockSize, false};
    else if (bios && bios->base < main.fileSize())
      geometry = {main.fileSize(), main.fileSize() - bios->base, kMinimumBlockSize, false};
  }
  if (options.flashSize) geometry.flashSize = *options.flashSize;
  if (options.biosSize) {
    geometry.biosSize = *options.biosSize;
    geometry.biosSizeGuessed = false;
  }
  if (options.blockSize) geometry.blockSize = *options.blockSize;
  return geometry;
}

Comparison Compare(ChipDump& main, ChipDump& backup, const CompareOptions& options) {
  Comparison result;
  result.geometry = BoardGeometry(main, options);
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
  if (!same) ScanDifferences(main, backup, into(result.differences));
  result.verdict = Decide(result);
  result.warnings = Warnings(main, backup, result.geometry, options);

  const auto masked = MaskedFlashIntervals(result.geometry, main, backup);
  const Geometry geometry = result.geometry;
  if (!same) {
    // The two walks (mostly decompression) share nothing: one runs on
    // another core.
    std::thread backupWalk([&backup] { backup.tree(); });
    main.tree();
    backupWalk.join();
    TreeProblemWarnings(main, backup, &result.warnings);
    NoFirmwareWarnings(main, backup, &result.warnings);
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
    result.variables = CompareVariables(geometry, main, backup);
    main.ShowUnmasked(false);
    backup.ShowUnmasked(false);
    result.causes = FindCauses(main, backup, result);
  }

  for (int index = 0; index < 2; ++index) {
    const ChipDump& dump = index == 0 ? main : backup;
    for (const MaskedArea& area : dump.masked()) {
      const uint64_t end = area.begin + area.length;
      result.masked.push_back({index, area, main.RawRegion(area.begin, end) != backup.RawRegion(area.begin, end)});
    }
  }
  if (options.rawMasked) ScanRawMasked(main, backup, into(result.rawMasked));

  // The board never reads below the BIOS region; two whole parts of one
  // size can still be compared there.
  if (main.isWholePart() && backup.isWholePart() && main.fileSize() == backup.fileSize() &&
      main.regionFileOffset() == backup.regionFileOffset() && main.regionFileOffset() > 0) {
    result.belowBiosRegionCompared = true;
    if (!same) ScanBelowBiosRegion(main, backup, into(result.belowBiosRegion));
  }
  return result;
}

}  // namespace pdiff
