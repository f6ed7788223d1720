// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/result_text.h"

namespace {

// Statuses in hex with capitals (0x8E), as the shell showed %lasterror%.
void AppendStep(TextLines* text, const char* name, uint32_t status) {
  if (status == kStepNotRun) {
    AppendFormatted(text, " %s=none", name);
    return;
  }
  char digits[9];
  unsigned count = 0;
  do {
    digits[count++] = "0123456789ABCDEF"[status % 16];
    status /= 16;
  } while (status != 0 && count < 8);
  char hex[9];
  for (unsigned i = 0; i < count; ++i) hex[i] = digits[count - 1 - i];
  hex[count] = '\0';
  AppendFormatted(text, " %s=0x%s", name, hex);
}

}  // namespace

void ComposeResultText(const KitOutcome& outcome, const char* kitVersion, uint64_t partBytes, TextLines* text) {
  KitVerdict verdict = VerdictOf(outcome);
  AppendFormatted(text, "%s", VerdictWord(verdict));
  AppendStep(text, "comparison", outcome.Comparison);
  if (verdict == KitVerdict::Fail) {
    AppendStep(text, "save-main", outcome.SaveMain);
    AppendStep(text, "save-backup", outcome.SaveBackup);
    AppendStep(text, "record", outcome.Record);
  }
  AppendFormatted(text, "\n");
  AppendFormatted(text, "why=%s\n", ComparisonText(outcome.Comparison));
  AppendFormatted(text, "board=%s\n", outcome.Board[0] != '\0' ? outcome.Board : "unknown");
  // Main's descriptor, where the comparison read it.
  if (outcome.Model[0] != '\0') AppendFormatted(text, "model=%s\n", outcome.Model);
  if (outcome.Version[0] != '\0') AppendFormatted(text, "version=%s\n", outcome.Version);
  if (outcome.PartNumber[0] != '\0') AppendFormatted(text, "part-number=%s\n", outcome.PartNumber);
  // The dump size a complete save has: the workstation checks each chip
  // file against it.
  if (partBytes != 0) AppendFormatted(text, "part-bytes=%d\n", static_cast<int>(partBytes));
  AppendFormatted(text, "date=%s\n", outcome.Date[0] != '\0' ? outcome.Date : "unknown");
  AppendFormatted(text, "kit=%s\n", kitVersion);
  AppendFormatted(text, "secure-boot=%s\n", outcome.SecureBoot ? "on" : "off");
  AppendFormatted(text, "startup-chip=%s\n", ChipName(outcome.StartupChip));
  AppendFormatted(text, "runs-from=%s\n", ChipName(outcome.ChipNow));
  AppendFormatted(text, "room=%s\n", KeepPlanText(outcome.Plan));
}

ResultFileStep JudgeResultReadBack(bool writtenWhole, const TextLines& meant, const char* readBack,
                                   uint64_t readLength) {
  if (!writtenWhole || meant.Overflowed) return ResultFileStep::WriteFailed;
  if (readLength != meant.Length) return ResultFileStep::ReadBackDiffers;
  for (uint32_t i = 0; i < meant.Length; ++i)
    if (readBack[i] != meant.Data[i]) return ResultFileStep::ReadBackDiffers;
  return ResultFileStep::Kept;
}
