// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/causes.h"

#include <algorithm>
#include <map>
#include <set>

#include "diff/compare/comparison.h"
#include "diff/compare/escaped_text.h"
#include "diff/compare/text_format.h"
#include "image/flash_causes.h"

namespace pdiff {

const char* CauseKindName(CauseKind kind) {
  switch (kind) {
    case CauseKind::Erased: return "erased";
    case CauseKind::BitErrors: return "bit_errors";
    case CauseKind::DifferentBuild: return "different_build";
    case CauseKind::Settings: return "settings";
    case CauseKind::Layout: return "layout";
    case CauseKind::Other: return "other";
  }
  return "other";
}

const char* CauseChipName(CauseChip chip) {
  return chip == CauseChip::Main ? "main" : chip == CauseChip::Backup ? "backup" : "both";
}

const char* CauseChipText(CauseChip chip) {
  return chip == CauseChip::Main ? "Main" : chip == CauseChip::Backup ? "Backup" : "Main and Backup";
}

namespace {

using Interval = std::pair<uint64_t, uint64_t>;  // flash offsets [first, second)

std::string FileLabel(const fwtree::TreeFile& file) {
  return EscapedText(file.name ? *file.name : fwtree::GuidText(file.guid));
}

// Names kept once each, in the order met, up to kCauseFilesNamed.
struct NameList {
  std::vector<std::string> names;
  std::set<std::string> seen;
  void Add(const fwtree::TreeFile* file) {
    if (file == nullptr || names.size() >= kCauseFilesNamed) return;
    std::string label = FileLabel(*file);
    if (seen.insert(label).second) names.push_back(std::move(label));
  }
};

size_t IndexIn(const fwtree::FirmwareTree& tree, const fwtree::TreeFile* file) {
  return size_t(file - tree.files.data());
}

// The file itself when it lies in the dump's bytes, else the innermost
// file holding it that does.
const fwtree::TreeFile* OnFlashHolder(const fwtree::FirmwareTree& tree, const fwtree::TreeFile* file) {
  while (file != nullptr && !file->offset && file->parentFile >= 0) file = &tree.files[size_t(file->parentFile)];
  return file != nullptr && file->offset ? file : nullptr;
}

// A changed file whose stored bytes (its own, or those of the file holding
// it) differ only in erased blocks and flipped bits: what decompresses or
// parses from damaged bytes is no build.
bool DamagedOnly(const ChipDump& main, const ChipDump& backup, const Geometry& geometry, const FileChange& change) {
  if (change.main == nullptr || change.backup == nullptr) return false;
  const fwtree::TreeFile* a = OnFlashHolder(main.tree(), change.main);
  const fwtree::TreeFile* b = OnFlashHolder(backup.tree(), change.backup);
  if (a == nullptr || b == nullptr || a->size != b->size) return false;
  const uint64_t begin = FileFlashOffset(geometry, main, *a->offset);
  if (begin != FileFlashOffset(geometry, backup, *b->offset)) return false;
  const uint64_t regionStart = FlashOffset(geometry, 0);
  const uint64_t regionSize = std::min(main.regionSize(), backup.regionSize());
  if (begin < regionStart || begin + a->size > regionStart + regionSize) return false;
  for (uint64_t block = begin / kEraseBlock * kEraseBlock; block < begin + a->size; block += kEraseBlock) {
    const uint64_t from = std::max(block, regionStart);
    const uint64_t to = std::min(block + kEraseBlock, regionStart + regionSize);
    const BlockCause cause =
        ClassifyFlashBlock(main.region() + (from - regionStart), backup.region() + (from - regionStart),
                           uint32_t(to - from), to - from == kEraseBlock)
            .Cause;
    if (cause == BlockCause::Other) return false;
  }
  return true;
}

// What the trees say about each flash byte: whose differences another
// build explains, and where the settings lie.
class Explanations {
 public:
  Explanations(const ChipDump& main, const ChipDump& backup, const Comparison& comparison)
      : main_(main), backup_(backup), geometry_(comparison.geometry) {
    explained_[0].assign(main.tree().files.size(), false);
    explained_[1].assign(backup.tree().files.size(), false);
    for (const ChipDump* dump : {&main, &backup})
      for (const MappedVolume& volume : dump->map().volumes)
        if (volume.variableStore)
          settings_.push_back({FlashOffset(geometry_, volume.volume.Offset),
                               FlashOffset(geometry_, volume.volume.Offset + volume.volume.DeclaredLength)});
  }

  // Once any file is rebuilt, every other change of the trees (files
  // added, removed, moved, data files changed, a version byte or two) is the
  // same build's: flipped bits are told only where no build explains them.
  void MarkBuild(const Comparison& comparison, const std::vector<bool>& rebuilt) {
    const bool anyRebuilt = std::find(rebuilt.begin(), rebuilt.end(), true) != rebuilt.end();
    for (size_t i = 0; i < comparison.files.size(); ++i) {
      const FileChange& change = comparison.files[i];
      if (change.kind == FileChangeKind::MaskedOnly) continue;
      const bool explained = rebuilt[i] || anyRebuilt;
      if (!explained) continue;
      if (change.main != nullptr) Mark(0, *change.main);
      if (change.backup != nullptr) Mark(1, *change.backup);
    }
  }

  bool InSettings(uint64_t flash) const {
    for (const Interval& area : settings_)
      if (flash >= area.first && flash < area.second) return true;
    return false;
  }

  bool ByBuild(uint64_t flash) const {
    for (int side = 0; side < 2; ++side) {
      const ChipDump& dump = side == 0 ? main_ : backup_;
      const fwtree::TreeFile* file = InnermostFileAtFlash(geometry_, dump, flash);
      if (file != nullptr ? explained_[side][IndexIn(dump.tree(), file)] : InExplainedVolume(side, flash)) return true;
    }
    return false;
  }

  const fwtree::TreeFile* FileAt(int side, uint64_t flash) const {
    return InnermostFileAtFlash(geometry_, side == 0 ? main_ : backup_, flash);
  }

 private:
  // The file and every file holding it; the volumes that hold them, where
  // they lie in the dump's own bytes (their headers and free space change
  // with a new layout).
  void Mark(int side, const fwtree::TreeFile& file) {
    const fwtree::FirmwareTree& tree = (side == 0 ? main_ : backup_).tree();
    for (size_t index = IndexIn(tree, &file); index < tree.files.size();) {
      if (explained_[side][index]) return;
      explained_[side][index] = true;
      const fwtree::TreeFile& at = tree.files[index];
      if (at.volume >= 0 && tree.volumes[size_t(at.volume)].offset)
        volumes_[side].push_back({*tree.volumes[size_t(at.volume)].offset,
                                  *tree.volumes[size_t(at.volume)].offset + tree.volumes[size_t(at.volume)].length});
      if (at.parentFile < 0) return;
      index = size_t(at.parentFile);
    }
  }

  bool InExplainedVolume(int side, uint64_t flash) const {
    const std::optional<uint64_t> at = FlashFileOffset(geometry_, side == 0 ? main_ : backup_, flash);
    if (!at) return false;
    for (const Interval& volume : volumes_[side])
      if (*at >= volume.first && *at < volume.second) return true;
    return false;
  }

  const ChipDump& main_;
  const ChipDump& backup_;
  const Geometry& geometry_;
  std::vector<bool> explained_[2];
  std::vector<Interval> volumes_[2];  // file offsets
  std::vector<Interval> settings_;
};

// A run of differing bytes (gaps under kMergeGap) inside one block.
struct Run {
  uint32_t begin, end;
  uint32_t bytes;
};

std::vector<Run> DifferingRuns(const uint8_t* a, const uint8_t* b, uint32_t length) {
  std::vector<Run> runs;
  for (uint32_t i = 0; i < length; ++i) {
    if (a[i] == b[i]) continue;
    if (!runs.empty() && i - runs.back().end < kMergeGap) {
      runs.back().end = i + 1;
      ++runs.back().bytes;
    } else {
      runs.push_back({i, i + 1, 1});
    }
  }
  return runs;
}

struct Tally {
  uint64_t bytes = 0;
  uint64_t blocks = 0;
  uint64_t bitsOneOn[2] = {0, 0};
  std::vector<uint64_t> offsets;
  std::vector<Interval> runs;               // erased: flash offsets of runs of blocks
  std::map<uint64_t, uint32_t> largeParts;  // erased: blocks met in each 64 KiB block
  NameList files;

  void Offset(uint64_t at) {
    if (offsets.size() < kCauseOffsetsListed) offsets.push_back(at);
  }
};

std::string RunsText(const std::vector<Interval>& runs) {
  std::string text;
  // Appended piece by piece: GCC 12 at -O3 takes a literal joined to a
  // temporary string for an overlapping copy (-Wrestrict).
  for (size_t i = 0; i < runs.size() && i < kCauseOffsetsListed; ++i) {
    if (i > 0) text += ", ";
    text += Hex(runs[i].first);
    if (runs[i].second - runs[i].first > kEraseBlock) {
      text += '-';
      text += Hex(runs[i].second - 1);
    }
  }
  if (runs.size() > kCauseOffsetsListed) text += ", ...";
  return text;
}

// The line names the first few files; the evidence holds more.
constexpr size_t kFilesInLine = 5;

std::string InFiles(const NameList& files) {
  if (files.names.empty()) return "";
  std::string text = "; in ";
  for (size_t i = 0; i < files.names.size() && i < kFilesInLine; ++i) text += (i > 0 ? ", " : "") + files.names[i];
  if (files.names.size() > kFilesInLine) text += " and others";
  return text;
}

std::string Plural(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

void AddErased(std::vector<Cause>* causes, int chip, const Tally& tally) {
  if (tally.blocks == 0) return;
  Cause cause{CauseKind::Erased, chip == 0 ? CauseChip::Main : CauseChip::Backup};
  cause.blocks = tally.blocks;
  for (const auto& [large, parts] : tally.largeParts) cause.largeBlocks += parts == kLargeEraseBlock / kEraseBlock;
  cause.bytes = tally.bytes;
  for (const Interval& run : tally.runs)
    if (cause.offsets.size() < kCauseOffsetsListed) cause.offsets.push_back(run.first);
  cause.fileNames = tally.files.names;
  cause.text =
      std::string(CauseChipText(cause.chip)) + ": " +
      Plural(cause.blocks, "erased 4 KiB block", "erased 4 KiB blocks") + " at " + RunsText(tally.runs) +
      (cause.largeBlocks > 0 ? " (" + Plural(cause.largeBlocks, "whole 64 KiB block", "whole 64 KiB blocks") + ")"
                             : "") +
      ": an erase not followed by its write (an interrupted update or a failed write)" + InFiles(tally.files);
  causes->push_back(std::move(cause));
}

void AddBitErrors(std::vector<Cause>* causes, const Tally& tally) {
  if (tally.bytes == 0) return;
  const uint64_t onMain = tally.bitsOneOn[0], onBackup = tally.bitsOneOn[1];
  // The chip reading 1 where the other reads 0 is the failing one: charge
  // lost from programmed 0s, or a program that did not take.
  Cause cause{CauseKind::BitErrors, onMain > 0 && onBackup > 0 ? CauseChip::Both
                                    : onMain > 0               ? CauseChip::Main
                                                               : CauseChip::Backup};
  cause.bytes = tally.bytes;
  cause.bitsOneOnMain = onMain;
  cause.bitsOneOnBackup = onBackup;
  cause.offsets = tally.offsets;
  cause.fileNames = tally.files.names;
  std::string how;
  if (cause.chip == CauseChip::Both)
    how = Plural(onMain, "bit reads", "bits read") + " 1 on Main where Backup has 0, " +
          Plural(onBackup, "bit reads", "bits read") + " 1 on Backup where Main has 0";
  else
    how = Plural(onMain + onBackup, "bit reads", "bits read") + " 1 where " +
          (cause.chip == CauseChip::Main ? "Backup" : "Main") + " has 0: charge lost or a program that failed";
  cause.text = std::string(CauseChipText(cause.chip)) + ": " + Plural(onMain + onBackup, "bit error", "bit errors") +
               " in " + Plural(tally.bytes, "byte", "bytes") + " (" + how + ")" + InFiles(tally.files);
  causes->push_back(std::move(cause));
}

std::string DayText(uint32_t seconds) { return TimeStampText(seconds).substr(0, 10); }

std::string SpanText(const std::set<uint32_t>& stamps) {
  if (stamps.empty()) return "none";
  const std::string first = DayText(*stamps.begin()), last = DayText(*stamps.rbegin());
  return first == last ? first : first + ".." + last;
}

void AddBuild(std::vector<Cause>* causes, const ChipDump& main, const Comparison& comparison,
              const std::vector<FileImageChange>& images, uint64_t bytes) {
  Cause cause{CauseKind::DifferentBuild, CauseChip::Both};
  std::set<uint32_t> stamps[2];
  std::set<std::string> evidence;
  NameList files;
  uint64_t changedWithIt = 0;
  const fwtree::FirmwareTree& tree = main.tree();
  for (const FileImageChange& item : images) {
    if (!item.image.rebuilt) {
      ++changedWithIt;
      continue;
    }
    ++cause.files;
    const FileChange& change = comparison.files[item.file];
    files.Add(change.main);
    // A file inside decompressed bytes is placed by the file holding it.
    const fwtree::TreeFile* placed = change.main;
    while (!placed->offset && placed->parentFile >= 0) placed = &tree.files[size_t(placed->parentFile)];
    if (placed->offset && cause.offsets.size() < kCauseOffsetsListed) {
      const uint64_t offset = FileFlashOffset(comparison.geometry, main, *placed->offset);
      if (std::find(cause.offsets.begin(), cause.offsets.end(), offset) == cause.offsets.end())
        cause.offsets.push_back(offset);
    }
    // Builds that zero the field leave no time to tell.
    const std::optional<uint32_t> mine = item.image.main.timeStamp, theirs = item.image.backup.timeStamp;
    if (mine != theirs) {
      if (mine.value_or(0) != 0) stamps[0].insert(*mine);
      if (theirs.value_or(0) != 0) stamps[1].insert(*theirs);
    }
    evidence.insert(item.image.rebuiltBy.begin(), item.image.rebuiltBy.end());
  }
  if (cause.files == 0) return;
  cause.bytes = bytes;
  cause.fileNames = files.names;
  std::string why;
  if (!stamps[0].empty() || !stamps[1].empty()) {
    why = "time stamps " + SpanText(stamps[0]) + " in Main and " + SpanText(stamps[1]) + " in Backup";
  } else {
    for (const std::string& item : evidence) why += (why.empty() ? "" : ", ") + item;
    why += " differ";
  }
  cause.text =
      "a different build: " + Plural(cause.files, "driver rebuilt", "drivers rebuilt") + " (" + why + ")" +
      (changedWithIt > 0 ? ", " + Plural(changedWithIt, "more driver", "more drivers") + " changed with it" : "") +
      InFiles(files);
  causes->push_back(std::move(cause));
}

}  // namespace

CauseAnalysis FindCauses(const ChipDump& main, const ChipDump& backup, const Comparison& comparison) {
  CauseAnalysis analysis;
  const Geometry& geometry = comparison.geometry;

  // The images inside changed files, and which of them another build made.
  uint64_t stringBudget = kStringScanBudget;
  std::vector<bool> rebuilt(comparison.files.size(), false);
  for (size_t i = 0; i < comparison.files.size(); ++i) {
    const FileChange& change = comparison.files[i];
    const bool changed =
        change.kind == FileChangeKind::Changed || (change.kind == FileChangeKind::Moved && change.contentChanged);
    if (!changed || change.main == nullptr || change.backup == nullptr) continue;
    std::optional<ImageChange> image = CompareImages(*change.main, *change.backup, &stringBudget);
    if (!image) continue;
    // Damage in a header is no build, whatever field it hits.
    if (image->rebuilt && DamagedOnly(main, backup, geometry, change)) {
      image->rebuilt = false;
      image->rebuiltBy.clear();
    }
    rebuilt[i] = image->rebuilt;
    analysis.images.push_back({i, std::move(*image)});
  }
  Explanations explanations(main, backup, comparison);
  explanations.MarkBuild(comparison, rebuilt);

  // Every block of the region the board compares, judged by its bytes and
  // then by what the trees say.
  Tally erased[2], bits, other;
  uint64_t buildBytes = 0, settingsBytes = 0;
  const uint8_t* a = main.region();
  const uint8_t* b = backup.region();
  uint64_t size = std::min(main.regionSize(), backup.regionSize());
  // A dump cut short reads as erased past its end: those bytes were never
  // read, and the cut is a layout cause of its own.
  if (!comparison.cutShort.empty()) size = std::min(size, comparison.comparedRegion);
  // A dump shorter than the region is padded with erased bytes in front:
  // those were never read from a chip, and are the dumps' shapes, not an
  // erase.
  uint64_t held = 0;
  for (const ChipDump* dump : {&main, &backup}) {
    const uint64_t end = RegionEnd(geometry, *dump);
    if (end < size) held = std::max(held, size - end);
  }
  for (uint64_t at = held; at < size;) {
    const uint64_t flash = FlashOffset(geometry, at);
    const uint32_t piece = uint32_t(std::min<uint64_t>((flash / kEraseBlock + 1) * kEraseBlock - flash, size - at));
    const BlockVerdict verdict = ClassifyFlashBlock(a + at, b + at, piece, piece == kEraseBlock);
    if (verdict.Cause == BlockCause::Same) {
      at += piece;
      continue;
    }
    const std::vector<Run> runs = DifferingRuns(a + at, b + at, piece);
    uint64_t settingsHere = 0, buildHere = 0;
    std::vector<const Run*> unexplained;
    for (const Run& run : runs) {
      if (explanations.InSettings(flash + run.begin))
        settingsHere += run.bytes;
      else if (explanations.ByBuild(flash + run.begin))
        buildHere += run.bytes;
      else
        unexplained.push_back(&run);
    }
    settingsBytes += settingsHere;
    const bool erasedBlock = verdict.Cause == BlockCause::ErasedOnMain || verdict.Cause == BlockCause::ErasedOnBackup;
    const int erasedSide = verdict.Cause == BlockCause::ErasedOnMain ? 0 : 1;
    // A block erased on one side lying where that side has no file, beside
    // another build's files, is the new layout's free space.
    if (erasedBlock && settingsHere == 0 &&
        (!unexplained.empty() || explanations.FileAt(erasedSide, flash) != nullptr)) {
      Tally& tally = erased[erasedSide];
      ++tally.blocks;
      tally.bytes += verdict.DifferingBytes;
      if (!tally.runs.empty() && tally.runs.back().second == flash)
        tally.runs.back().second += kEraseBlock;
      else
        tally.runs.push_back({flash, flash + kEraseBlock});
      ++tally.largeParts[flash / kLargeEraseBlock];
      for (uint32_t step = 0; step < kEraseBlock; step += 512)
        tally.files.Add(explanations.FileAt(1 - erasedSide, flash + step));
    } else if (verdict.Cause == BlockCause::BitErrors && !unexplained.empty()) {
      buildHere = 0;
      ++bits.blocks;
      bits.bytes += verdict.DifferingBytes - settingsHere;
      bits.bitsOneOn[0] += verdict.BitsOneOn[0];
      bits.bitsOneOn[1] += verdict.BitsOneOn[1];
      for (const Run& run : runs) {
        bits.Offset(flash + run.begin);
        bits.files.Add(explanations.FileAt(0, flash + run.begin));
      }
    } else {
      for (const Run* run : unexplained) {
        other.bytes += run->bytes;
        other.Offset(flash + run->begin);
        other.files.Add(explanations.FileAt(0, flash + run->begin));
        if (explanations.FileAt(0, flash + run->begin) == nullptr)
          other.files.Add(explanations.FileAt(1, flash + run->begin));
      }
    }
    buildBytes += buildHere;
    at += piece;
  }

  std::vector<Cause>& causes = analysis.causes;
  AddErased(&causes, 0, erased[0]);
  AddErased(&causes, 1, erased[1]);
  AddBitErrors(&causes, bits);
  AddBuild(&causes, main, comparison, analysis.images, buildBytes);
  const VariableChangeCounts counts = CountVariableChanges(comparison.variables.changes);
  const uint64_t variables =
      counts.changed + counts.onlyInMain + counts.onlyInBackup + counts.deletedInMain + counts.deletedInBackup;
  if (variables > 0 || settingsBytes > 0 || comparison.variables.movedUnchanged > 0) {
    Cause cause{CauseKind::Settings, CauseChip::Both};
    cause.files = variables;
    cause.bytes = settingsBytes;
    const bool firmwareToo = !causes.empty() || other.bytes > 0;
    cause.text = "settings: " + Plural(variables, "variable changed", "variables changed");
    if (comparison.variables.movedUnchanged > 0)
      cause.text += ", " + Plural(comparison.variables.movedUnchanged, "record", "records") + " moved by a reclaim";
    if (!firmwareToo) cause.text += ", no firmware file";
    causes.push_back(std::move(cause));
  }
  if (other.bytes > 0) {
    Cause cause{CauseKind::Other, CauseChip::Both};
    cause.bytes = other.bytes;
    cause.offsets = other.offsets;
    cause.fileNames = other.files.names;
    cause.text = "other: " + Plural(other.bytes, "differing byte", "differing bytes") + " no rule explains" +
                 InFiles(other.files);
    causes.push_back(std::move(cause));
  }
  return analysis;
}

void InsertCause(CauseAnalysis* analysis, Cause cause) {
  auto after = std::upper_bound(analysis->causes.begin(), analysis->causes.end(), cause.kind,
                                [](CauseKind kind, const Cause& other) { return kind < other.kind; });
  analysis->causes.insert(after, std::move(cause));
}

void AddLayoutCauses(const Comparison& comparison, CauseAnalysis* analysis) {
  for (const CutShortDump& cut : comparison.cutShort) {
    Cause cause{CauseKind::Layout, cut.dump == 0 ? CauseChip::Main : CauseChip::Backup};
    cause.offsets.push_back(cut.missingBegin);
    cause.bytes = cut.missingEnd - cut.missingBegin;
    cause.text = std::string(cut.dump == 0 ? "Main" : "Backup") + ": the dump is cut short, flash " +
                 Hex(cut.missingBegin) + "-" + Hex(cut.missingEnd - 1) + " (" + std::to_string(cause.bytes) +
                 " bytes) missing: a read that stopped early, not the chip";
    InsertCause(analysis, std::move(cause));
  }
  // The other shapes, said once: their lines name the dumps themselves.
  if (comparison.cutShort.empty() && !comparison.shape.empty())
    InsertCause(analysis, {CauseKind::Layout,
                           CauseChip::Both,
                           {},
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           {},
                           "the dumps are of different shapes: " + comparison.shape.front()});
}

}  // namespace pdiff
