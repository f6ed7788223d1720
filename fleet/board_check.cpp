// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/board_check.h"

#include "diff/compare/chip_dump.h"
#include "diff/compare/escaped_text.h"
#include "fleet/chip_cache.h"
#include "fleet/chip_hash.h"
#include "fleet/chip_signature.h"
#include "fleet/run_result.h"

namespace fleet {
namespace {

// A chip's signature against golden; the hash is known and differs.
void CompareWithGolden(const std::string& path, const FleetContext& context, ChipRecord* chip) {
  pdiff::ChipDump dump;
  std::string problem;
  if (!dump.Load(path, &problem)) {
    chip->state = ChipState::Trouble;
    chip->trouble = problem;
    return;
  }
  const std::string unplaced = pdiff::GeometryTrouble(dump, context.options);
  if (!unplaced.empty()) {
    chip->state = ChipState::Differs;
    chip->items = {UnplacedChip(unplaced)};
    return;
  }
  pdiff::CompareOptions options = context.options;
  options.rangesKept = 1;  // the signature names files, not ranges
  // The chip's tree (mostly decompression) is walked before golden is
  // taken, so that other workers' walks run meanwhile; a chip shorter than
  // golden's region is moved when placed, and walked again then.
  if (dump.fileSize() >= context.golden->regionSize) dump.tree();
  std::lock_guard<std::mutex> hold(*context.goldenLock);
  const pdiff::Comparison comparison = pdiff::Compare(context.golden->dump, dump, options);
  const bool regionOnly = context.golden->dump.fileSize() == context.golden->regionSize;
  chip->items = ChipSignature(comparison, regionOnly);
  chip->state = chip->items.empty() ? ChipState::MaskedOnly : ChipState::Differs;
}

ChipRecord MeasureChip(const std::string& role, const std::string& path, const FleetContext& context) {
  ChipRecord chip;
  chip.role = role;
  chip.path = pdiff::EscapedText(path);
  FileStamp stamp;
  std::string problem;
  if (context.cache && StampOf(path, &stamp, &problem) && context.cache->Find(path, stamp, &chip)) {
    chip.role = role;
    chip.path = pdiff::EscapedText(path);
    return chip;
  }
  problem.clear();
  if (!HashFile(path, pdiff::kLargestDump, &stamp, &chip.sha256, &problem)) {
    chip.state = ChipState::Trouble;
    chip.trouble = problem;
    chip.size = stamp.size;
    return chip;
  }
  chip.size = stamp.size;
  if (chip.sha256 == context.golden->sha256)
    chip.state = ChipState::Identical;
  else
    CompareWithGolden(path, context, &chip);
  if (context.cache && chip.state != ChipState::Trouble) context.cache->Store(path, stamp, chip);
  return chip;
}

ChipRecord AlreadyRead(const std::string& role, const std::string& path) {
  ChipRecord chip;
  chip.role = role;
  chip.path = pdiff::EscapedText(path);
  chip.trouble = "the same file as one already read (a link): not read again";
  return chip;
}

ChipRecord Missing(const std::string& role, const std::string& folder) {
  ChipRecord chip;
  chip.role = role;
  chip.path = pdiff::EscapedText(folder + "/" + (role == "Main" ? "MAIN.BIN" : "BACKUP.BIN"));
  chip.trouble = "missing from the board folder";
  return chip;
}

// The board's own test on its two chips, as pellrix-diff gives it.
BoardVerdict MainAgainstBackup(const BoardInput& input, const BoardRecord& record, const FleetContext& context) {
  BoardVerdict verdict;
  if (record.chips.size() != 2 || record.chips[0].sha256.empty() || record.chips[1].sha256.empty()) return verdict;
  if (record.chips[0].sha256 == record.chips[1].sha256) {
    verdict.known = true;
    verdict.pass = true;
    verdict.status = 0;
    return verdict;
  }
  FileStamp mainStamp;
  FileStamp backupStamp;
  std::string problem;
  const bool stamped =
      context.cache && StampOf(*input.main, &mainStamp, &problem) && StampOf(*input.backup, &backupStamp, &problem);
  if (stamped && context.cache->FindVerdict(*input.main, mainStamp, *input.backup, backupStamp, &verdict))
    return verdict;
  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  if (!main.Load(*input.main, &problem) || !backup.Load(*input.backup, &problem)) return verdict;
  if (!pdiff::GeometryTrouble(main, context.options).empty() ||
      !pdiff::GeometryTrouble(backup, context.options).empty())
    return verdict;
  pdiff::CompareOptions options = context.options;
  options.rangesKept = 1;
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, options);
  verdict.known = true;
  verdict.pass = comparison.verdict.pass;
  verdict.status = comparison.verdict.status;
  verdict.address = comparison.verdict.address;
  if (stamped) context.cache->StoreVerdict(*input.main, mainStamp, *input.backup, backupStamp, verdict);
  return verdict;
}

}  // namespace

BoardRecord TroubleRecord(const std::string& path, const std::string& reason, const std::string& golden) {
  BoardRecord record;
  record.kind = RecordKind::Trouble;
  record.name = pdiff::EscapedText(path);
  record.golden = golden;
  record.trouble = reason;
  return record;
}

BoardRecord CheckBoard(const BoardInput& input, const FleetContext& context) {
  BoardRecord record;
  record.name = pdiff::EscapedText(input.name);
  record.golden = context.golden->sha256;
  if (input.dump) {
    record.chips.push_back(MeasureChip("Dump", *input.dump, context));
    return record;
  }
  std::string resultProblem;
  if (input.result) {
    record.result = ReadRunResult(*input.result, &resultProblem);
  }
  if (!input.main && !input.backup) {
    if (!record.result) {
      record.kind = RecordKind::Trouble;
      record.trouble = input.result ? resultProblem : "a kit run without RESULT.TXT or dumps: the run was cut short";
    } else {
      record.kind = RecordKind::RunWithoutDumps;
    }
    return record;
  }
  if (input.result && !record.result) record.resultTrouble = resultProblem;
  record.chips.push_back(input.mainAlreadyRead ? AlreadyRead("Main", *input.main)
                         : input.main          ? MeasureChip("Main", *input.main, context)
                                               : Missing("Main", input.name));
  record.chips.push_back(input.backupAlreadyRead ? AlreadyRead("Backup", *input.backup)
                         : input.backup          ? MeasureChip("Backup", *input.backup, context)
                                                 : Missing("Backup", input.name));
  if (!input.mainAlreadyRead && !input.backupAlreadyRead) record.verdict = MainAgainstBackup(input, record, context);
  return record;
}

}  // namespace fleet
