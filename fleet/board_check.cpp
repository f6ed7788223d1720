// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/board_check.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include "diff/compare/chip_dump.h"
#include "diff/compare/escaped_text.h"
#include "fleet/chip_cache.h"
#include "fleet/chip_hash.h"
#include "fleet/chip_signature.h"
#include "fleet/linked_chips.h"
#include "fleet/run_result.h"

namespace fleet {
namespace {

// A chip's signature against golden; the hash is known and differs.
void CompareWithGolden(const std::string& path, const FleetContext& context, ChipRecord* chip) {
  if (chip->size > kLargestChip) {
    chip->state = ChipState::Differs;
    chip->items = {{"unplaced larger than any flash part", "larger than any flash part holds: not compared"}};
    return;
  }
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
  FileStamp stamp;
  std::string problem;
  const bool stamped = StampOf(path, &stamp, &problem);
  const auto named = [&](ChipRecord found) {
    found.role = role;
    found.path = RecordName(path);
    return found;
  };
  if (stamped && context.linked && context.linked->Find(stamp, &chip)) return named(chip);
  if (stamped && context.cache && context.cache->Find(path, stamp, &chip)) {
    if (context.linked) context.linked->Store(stamp, chip);
    return named(chip);
  }
  chip = ChipRecord();
  problem.clear();
  if (!HashFile(path, pdiff::kLargestDump, &stamp, &chip.sha256, &problem)) {
    chip.state = ChipState::Trouble;
    chip.trouble = problem;
    chip.size = stamp.size;
    return named(chip);
  }
  chip.size = stamp.size;
  if (chip.sha256 == context.golden->sha256)
    chip.state = ChipState::Identical;
  else
    CompareWithGolden(path, context, &chip);
  if (chip.state != ChipState::Trouble) {
    if (context.cache) context.cache->Store(path, stamp, chip);
    if (context.linked) context.linked->Store(stamp, chip);
  }
  return named(chip);
}

ChipRecord Missing(const std::string& role, const std::string& folder) {
  ChipRecord chip;
  chip.role = role;
  chip.path = RecordName(folder + "/" + (role == "Main" ? "MAIN.BIN" : "BACKUP.BIN"));
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
  if (record.chips[0].size > kLargestChip || record.chips[1].size > kLargestChip) return verdict;
  FileStamp mainStamp;
  FileStamp backupStamp;
  std::string problem;
  const bool stamped = StampOf(*input.main, &mainStamp, &problem) && StampOf(*input.backup, &backupStamp, &problem);
  if (stamped && context.linked && context.linked->FindVerdict(mainStamp, backupStamp, &verdict)) return verdict;
  if (stamped && context.cache &&
      context.cache->FindVerdict(*input.main, mainStamp, *input.backup, backupStamp, &verdict)) {
    if (context.linked) context.linked->StoreVerdict(mainStamp, backupStamp, verdict);
    return verdict;
  }
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
  if (stamped && context.cache)
    context.cache->StoreVerdict(*input.main, mainStamp, *input.backup, backupStamp, verdict);
  if (stamped && context.linked) context.linked->StoreVerdict(mainStamp, backupStamp, verdict);
  return verdict;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The board's key: the inode and times of its folder (for a dump alone, of
// the folder holding it, and the dump's name there) and what was read. No
// device: the map's hosts may number one shared archive's devices
// differently.
std::string BoardKey(const BoardInput& input, const BoardRecord& record) {
  const std::string folder = input.dump ? FolderOf(*input.dump) : input.name;
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return "";
  // With its times: two sticks' folders may share an inode number (FAT
  // makes them up), hardly their times too.
  std::string identity = std::to_string(info.st_ino) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
                         std::to_string(info.st_mtim.tv_nsec) + ":" + std::to_string(info.st_ctim.tv_sec) + "." +
                         std::to_string(info.st_ctim.tv_nsec);
  identity += '\0';
  if (input.dump) identity += input.dump->substr(input.dump->rfind('/') + 1);
  identity += '\0';
  if (record.result) identity += record.result->Line();
  for (const ChipRecord& chip : record.chips) identity += '\0' + chip.role + ':' + chip.sha256;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest(identity.data(), identity.size(), digest, &length, EVP_sha256(), nullptr);
  static const char* const kDigits = "0123456789abcdef";
  std::string key;
  for (unsigned i = 0; i < 16 && i < length; ++i) {
    key.push_back(kDigits[digest[i] >> 4]);
    key.push_back(kDigits[digest[i] & 15]);
  }
  return key;
}

BoardRecord Measured(const BoardInput& input, const FleetContext& context) {
  BoardRecord record;
  record.name = RecordName(input.name);
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
  record.chips.push_back(input.main ? MeasureChip("Main", *input.main, context) : Missing("Main", input.name));
  record.chips.push_back(input.backup ? MeasureChip("Backup", *input.backup, context) : Missing("Backup", input.name));
  record.verdict = MainAgainstBackup(input, record, context);
  return record;
}

}  // namespace

BoardRecord TroubleRecord(const std::string& path, const std::string& reason, const std::string& golden) {
  BoardRecord record;
  record.kind = RecordKind::Trouble;
  record.name = RecordName(path);
  record.golden = golden;
  record.trouble = reason;
  return record;
}

BoardRecord CheckBoard(const BoardInput& input, const FleetContext& context) {
  BoardRecord record = Measured(input, context);
  if (record.kind != RecordKind::Trouble) record.key = BoardKey(input, record);
  return record;
}

}  // namespace fleet
