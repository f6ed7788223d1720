// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/final_screen.h"

#include "kit/big_letters.h"
#include "kit/run_number.h"

namespace {

// Appends one formatted line in `tone`; the line count follows the text.
void Line(FinalScreen* screen, ScreenTone tone, const char* format, const char* a = "", const char* b = "",
          const char* c = "") {
  if (screen->Lines < kScreenRows) screen->Tones[screen->Lines] = tone;
  ++screen->Lines;
  AppendFormatted(&screen->Text, format, a, b, c);
  AppendFormatted(&screen->Text, "\n");
}

ScreenTone ToneOf(KitVerdict verdict) { return verdict == KitVerdict::Pass ? ScreenTone::Good : ScreenTone::Bad; }

// What the run folder holds, most useful first; RESULT.TXT only when it was
// read back whole and renamed.
void KeptText(const KitOutcome& outcome, KitVerdict verdict, char* out, unsigned capacity) {
  unsigned length = 0;
  auto put = [&](const char* words) {
    for (const char* c = words; *c != '\0' && length + 1 < capacity; ++c) out[length++] = *c;
  };
  bool result = outcome.ResultFile == ResultFileStep::Kept || outcome.ResultFile == ResultFileStep::NotRun;
  if (outcome.RunNumber == 0 || outcome.FolderFailed) {
    put("nothing (no run folder could be written)");
  } else if (verdict != KitVerdict::Fail) {
    put(result ? "the log and RESULT.TXT" : "the log only");
  } else {
    bool chips = outcome.SaveMain == kStatusSuccess && outcome.SaveBackup == kStatusSuccess;
    bool record = outcome.Record == kStatusSuccess;
    if (chips) put("both chips, ");
    if (record) put("the board record, ");
    bool neither = !chips && !record;
    put(result ? (neither ? "the log and RESULT.TXT" : "the log, RESULT.TXT") : "the log");
    if (neither)
      put(" only; NOT the chips or the board record");
    else if (!chips)
      put("; NOT both chips");
    else if (!record)
      put("; NOT the board record");
  }
  out[length] = '\0';
}

}  // namespace

void ComposeFinalScreen(const KitOutcome& outcome, FinalScreen* screen) {
  KitVerdict verdict = VerdictOf(outcome);
  const char* word = VerdictWord(verdict);
  // Big letters: five rows, tone of the verdict.
  for (unsigned row = 0; row < kBigLetterRows && row < kScreenRows; ++row) screen->Tones[row] = ToneOf(verdict);
  AppendBigWord(&screen->Text, word, 2);
  screen->Lines += kBigLetterRows;
  Line(screen, ScreenTone::Plain, "");
  Line(screen, ToneOf(verdict), "Verdict: %s - %s", word,
       verdict == KitVerdict::Unsupported ? "no dual-chip service on this board" : ComparisonText(outcome.Comparison));
  if (verdict == KitVerdict::Unsupported)
    Line(screen, ScreenTone::Plain, "Nothing to compare, save or record: the board offers no second chip.");
  bool elsewhere = outcome.ChipNow != outcome.StartupChip || outcome.ChipNow == kChipUnknown;
  Line(screen, elsewhere ? ScreenTone::Bad : ScreenTone::Plain, "The board runs from: %s chip%s",
       ChipName(outcome.ChipNow),
       outcome.ChipNow == kChipUnknown ? " (could not be asked)"
       : elsewhere                     ? " - NOT the start-up chip!"
                                       : " (its start-up chip)");
  if (elsewhere && outcome.ChipNow != kChipUnknown)
    Line(screen, ScreenTone::Bad, "  The switch back failed: tell the board's owner before it is used again.");
  char folder[8] = "";
  if (outcome.RunNumber != 0) RunFolderName(outcome.RunNumber, folder);
  char kept[80];
  KeptText(outcome, verdict, kept, sizeof kept);
  Line(screen, ScreenTone::Plain, "Kept on the stick: %s", kept);
  if (outcome.RunNumber != 0 && !outcome.FolderFailed) Line(screen, ScreenTone::Plain, "  in the folder %s", folder);
  if (outcome.RunNumbersExhausted)
    Line(screen, ScreenTone::Bad, "No run number left (RUN999 is taken): copy the RUN folders off, delete them.");
  else if (outcome.FolderFailed || outcome.RunNumber == 0)
    Line(screen, ScreenTone::Bad, "The stick could not be written (write-protected, full or damaged).");
  else if (verdict == KitVerdict::Fail && outcome.Plan != KeepPlan::Everything)
    Line(screen, ScreenTone::Bad, "The stick had room for %s only.", KeepPlanText(outcome.Plan));
  if (outcome.ResultFile == ResultFileStep::ReadBackDiffers)
    Line(screen, ScreenTone::Bad, "RESULT.TXT read back wrong (stick failing?): note the verdict by hand.");
  else if (outcome.ResultFile == ResultFileStep::WriteFailed || outcome.ResultFile == ResultFileStep::RenameFailed)
    Line(screen, ScreenTone::Bad, "RESULT.TXT could not be written: note the verdict above by hand.");
  Line(screen, ScreenTone::Plain, "");
  if (outcome.RunNumber != 0 && !outcome.FolderFailed)
    Line(screen, ScreenTone::Plain, "Next: bring the stick back; on a workstation run tools/explain-run.sh %s", folder);
  else
    Line(screen, ScreenTone::Plain, "Next: note the verdict, then free or replace the stick and run again.");
  Line(screen, ScreenTone::Plain, "Press any key to restart the board.");
}
