// SPDX-License-Identifier: BSD-2-Clause-Patent
// What one run of the kit found and did, gathered as it goes, and the
// verdict drawn from it. RESULT.TXT and the final screen are written from
// this alone.
#pragma once

#include <stdint.h>

#include "kit/room_plan.h"
#include "runtime/exit_status.h"

enum class KitVerdict : uint8_t { Pass, Fail, Unsupported };

// How RESULT.TXT fared: written aside, read back, then renamed; it is not
// written at all when there is no run folder.
enum class ResultFileStep : uint8_t { NotRun, Kept, WriteFailed, ReadBackDiffers, RenameFailed };

// A step that did not run; any other value is the program's exit status.
constexpr uint32_t kStepNotRun = 0;
constexpr uint8_t kChipUnknown = 0xFF;

// How the board answered the kit's first question, before any chip is read.
enum class BoardAnswer : uint8_t { Answered, NoChipSelect, NoMailbox };

// Why the two kept chips differ, as their bytes show it (kit/chip_causes.h):
// NotJudged when both chips were not kept whole.
enum class ChipCause : uint8_t { NotJudged, Erased, BitErrors, Other };
struct CauseFinding {
  ChipCause Kind = ChipCause::NotJudged;
  uint8_t Chip = 0xFF;       // 0 Main, 1 Backup, 2 both; for Erased and BitErrors
  uint32_t Count = 0;        // erased 4 KiB blocks, or bytes with bit errors
  uint32_t Bits = 0;         // the bits of those bit errors
  uint64_t FirstOffset = 0;  // flash offset of the first such block or byte
};

// The firmware clock's zone: a minute offset, or one of these.
constexpr int16_t kZoneLocal = 0x07FF;  // the firmware does not say: its local time

// What the run folder holds once the steps are done, as the stick lists it
// (not as the steps meant it): the final screen and RESULT.TXT say this.
struct StickStock {
  bool LogWhole = true;       // every line of the log reached the stick
  uint64_t MainBytes = 0;     // MAIN.BIN's size, 0 when there is none
  uint64_t BackupBytes = 0;   // BACKUP.BIN's size
  bool RecordFolder = false;  // PELLRIX.REC is there, whole or not
};

struct KitOutcome {
  uint32_t Comparison = kStepNotRun;
  // The position query after the comparison (145 Main, 146 Backup, 130 not
  // supported): it reads no chip, so it tells an unsupported board from a
  // comparison that stopped at 130 for another reason.
  uint32_t Position = kStepNotRun;
  uint32_t SaveMain = kStepNotRun;
  uint32_t SaveBackup = kStepNotRun;
  uint32_t Record = kStepNotRun;
  ResultFileStep ResultFile = ResultFileStep::NotRun;
  KeepPlan Plan = KeepPlan::Nothing;
  int RunNumber = 0;  // 0: no run folder
  bool RunNumbersExhausted = false;
  bool FolderFailed = false;  // the folder or its log could not be written
  bool SecureBoot = false;
  BoardAnswer Answer = BoardAnswer::Answered;
  uint64_t PartBytes = 0;  // the flash part's size, 0 when the board did not say
  StickStock Stock;
  uint8_t StartupChip = kChipUnknown;  // 0 Main, 1 Backup
  uint8_t ChipNow = kChipUnknown;
  char Board[64] = {};  // the flash part as the board reports it
  // Main's identity from its descriptor, as the comparison read it; empty
  // when it was not read.
  char Model[33] = {};
  char Version[5] = {};
  char PartNumber[9] = {};
  char Date[20] = {};  // "2026-12-07 22:15:03" from the firmware clock
  int16_t DateZone = kZoneLocal;
  char Serial[65] = {};  // the board's serial number from SMBIOS; empty when none
  CauseFinding Cause;
};

// 130: the board's answer when it lacks the dual-chip service.
constexpr uint32_t kStatusSuccess = StatusValue(ExitStatus::Success);
constexpr uint32_t kStatusNotSupported = StatusValue(ExitStatus::NotSupported);
constexpr uint32_t kStatusOnMain = StatusValue(ExitStatus::OnMain);
constexpr uint32_t kStatusOnBackup = StatusValue(ExitStatus::OnBackup);

// Pass only on a comparison that succeeded; unsupported only when the
// comparison and the position query, which reads no chip, were both refused
// with 130; every other outcome is a failure.
KitVerdict VerdictOf(const KitOutcome& outcome);

const char* VerdictWord(KitVerdict verdict);

// Why the comparison did not pass, in words ("the chips' contents differ").
const char* ComparisonText(uint32_t status);

// Why the verdict is what it is: the comparison's words, or for an
// unsupported board which question it did not answer.
const char* VerdictReason(const KitOutcome& outcome);

// True for a comparison that found the chips different (an identity check
// or the contents), as opposed to one that could not compare them.
bool ChipsDiffer(uint32_t comparison);

// "Main", "Backup" or "unknown".
const char* ChipName(uint8_t chip);
