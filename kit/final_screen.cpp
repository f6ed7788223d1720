// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/final_screen.h"

#include "kit/big_letters.h"
#include "kit/chip_causes.h"
#include "kit/run_number.h"
#include "kit/stick_holdings.h"

namespace {

// Appends one formatted line in `tone`; the line count follows the text.
void Line(FinalScreen* screen, ScreenTone tone, const char* format, const char* a = "", const char* b = "",
          const char* c = "") {
  if (screen->Lines < kScreenRows) screen->Tones[screen->Lines] = tone;
  ++screen->Lines;
  AppendFormatted(&screen->Text, format, a, b, c);
  AppendFormatted(&screen->Text, "\n");
}

unsigned Length(const char* text) {
  unsigned length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

// `head` then the items joined by `joint`, broken before an item that would
// pass the 80th column; the lines after the first are indented by two.
void ListLines(FinalScreen* screen, ScreenTone tone, const char* head, const char* const* items, unsigned count,
               const char* joint) {
  char line[kScreenColumns + 1];
  unsigned length = 0;
  auto put = [&](const char* text) {
    for (const char* c = text; *c != '\0' && length < kScreenColumns; ++c) line[length++] = *c;
  };
  put(head);
  for (unsigned i = 0; i < count; ++i) {
    unsigned more = (i == 0 ? 0 : Length(joint)) + Length(items[i]);
    if (i != 0 && length + more > kScreenColumns) {
      line[length] = '\0';
      Line(screen, tone, "%s", line);
      length = 0;
      put("  ");
    } else if (i != 0) {
      put(joint);
    }
    put(items[i]);
  }
  line[length] = '\0';
  Line(screen, tone, "%s", line);
}

ScreenTone ToneOf(KitVerdict verdict) { return verdict == KitVerdict::Pass ? ScreenTone::Good : ScreenTone::Bad; }

// What the run folder holds, from what the stick listed after the steps:
// whole pieces first by name, then the parts of pieces; on a failure, what
// the kit meant to keep and could not.
void KeptLines(const KitOutcome& outcome, KitVerdict verdict, const char* folder, FinalScreen* screen) {
  Holdings holdings = HoldingsOf(outcome);
  if (!holdings.Folder) {
    Line(screen, ScreenTone::Bad, "Kept on the stick: nothing (no run folder could be written)");
    return;
  }
  HeldFile files[kHeldFiles];
  ListHeldFiles(holdings, files);
  const char* items[2 * kHeldFiles];
  unsigned count = 0;
  static const char* const kPartOf[kHeldFiles] = {"the log (cut short)", "", "part of the Main chip",
                                                  "part of the Backup chip", "part of the board record"};
  for (unsigned i = 0; i < kHeldFiles; ++i)
    if (files[i].State == Held::Whole) items[count++] = files[i].Words;
  for (unsigned i = 0; i < kHeldFiles; ++i)
    if (files[i].State == Held::Part) items[count++] = kPartOf[i];
  char head[32];
  unsigned length = 0;
  for (const char* c = "Kept in "; *c != '\0'; ++c) head[length++] = *c;
  for (const char* c = folder; *c != '\0'; ++c) head[length++] = *c;
  head[length++] = ':';
  head[length++] = ' ';
  head[length] = '\0';
  ListLines(screen, ScreenTone::Plain, head, items, count, ", ");
  if (verdict != KitVerdict::Fail) return;
  count = 0;
  for (unsigned i = 2; i < kHeldFiles; ++i)
    if (files[i].State != Held::Whole) items[count++] = files[i].Words;
  if (count != 0) ListLines(screen, ScreenTone::Bad, "NOT kept whole: ", items, count, ", ");
}

// Why the stick kept less than a failure's evidence, when the room decided.
const char* RoomText(KeepPlan plan) {
  switch (plan) {
    case KeepPlan::Nothing: return "The stick was too full for the evidence: free it and run again.";
    case KeepPlan::LogOnly: return "The stick had room for the log, not the chips: free it and run again.";
    case KeepPlan::LogAndChips: return "The stick had room for the log and the chips, not the board record.";
    case KeepPlan::Everything: return "";
  }
  return "";
}

// Where to go next: the folder to bring back and its files, and the
// workstation's command.
void NextLines(const KitOutcome& outcome, KitVerdict verdict, const char* folder, FinalScreen* screen) {
  Holdings holdings = HoldingsOf(outcome);
  if (!holdings.Folder) {
    Line(screen, ScreenTone::Plain, "Next: note the verdict, then free or replace the stick and run again.");
    return;
  }
  if (verdict == KitVerdict::Fail && ChipsDiffer(outcome.Comparison))
    Line(screen, ScreenTone::Plain, "Backup differs from Main: bring back %s with its files:", folder);
  else
    Line(screen, ScreenTone::Plain, "Next: bring back %s with its files:", folder);
  HeldFile files[kHeldFiles];
  ListHeldFiles(holdings, files);
  const char* names[kHeldFiles];
  unsigned count = 0;
  for (const HeldFile& file : files)
    if (file.State != Held::None) names[count++] = file.Name;
  ListLines(screen, ScreenTone::Plain, "  ", names, count, " ");
  Line(screen, ScreenTone::Plain, "On a workstation run: pellrix-explain-run %s", folder);
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
       verdict == KitVerdict::Unsupported ? "no dual-chip service on this board" : VerdictReason(outcome));
  // Why the kept chips differ, where their bytes say it.
  if (outcome.Cause.Kind == ChipCause::Erased || outcome.Cause.Kind == ChipCause::BitErrors) {
    TextLines cause;
    AppendCauseSentence(outcome.Cause, &cause);
    Line(screen, ScreenTone::Bad, "%s", cause.Data);
  }
  // Which question the board did not answer, for whoever looks into it.
  if (verdict == KitVerdict::Unsupported)
    Line(screen, ScreenTone::Plain, "Nothing to compare, save or record: %s.", VerdictReason(outcome));
  bool elsewhere = outcome.ChipNow != outcome.StartupChip || outcome.ChipNow == kChipUnknown;
  Line(screen, elsewhere ? ScreenTone::Bad : ScreenTone::Plain, "The board runs from: %s chip%s",
       ChipName(outcome.ChipNow),
       outcome.ChipNow == kChipUnknown ? " (could not be asked)"
       : elsewhere                     ? " - NOT the start-up chip!"
                                       : " (its start-up chip)");
  if (elsewhere && outcome.ChipNow != kChipUnknown)
    Line(screen, ScreenTone::Bad, "  The switch back failed: tell the board's owner before it is used again.");
  Line(screen, ScreenTone::Plain, "Secure Boot: %s", outcome.SecureBoot ? "on" : "off");
  char folder[8] = "";
  if (outcome.RunNumber != 0) RunFolderName(outcome.RunNumber, folder);
  KeptLines(outcome, verdict, folder, screen);
  if (outcome.RunNumbersExhausted)
    Line(screen, ScreenTone::Bad, "No run number left (RUN999 is taken): copy the RUN folders off, delete them.");
  else if (outcome.FolderFailed || outcome.RunNumber == 0)
    Line(screen, ScreenTone::Bad, "The stick could not be written (write-protected, full or damaged).");
  else if (verdict == KitVerdict::Fail && outcome.Plan != KeepPlan::Everything)
    Line(screen, ScreenTone::Bad, "%s", RoomText(outcome.Plan));
  bool folderWritten = outcome.RunNumber != 0 && !outcome.FolderFailed;
  if (folderWritten && !outcome.Stock.LogWhole)
    Line(screen, ScreenTone::Bad, "The log stops early: the stick refused a write (full or failing).");
  if (outcome.ResultFile == ResultFileStep::ReadBackDiffers)
    Line(screen, ScreenTone::Bad, "RESULT.TXT read back wrong (stick failing?): note the verdict by hand.");
  else if (outcome.ResultFile == ResultFileStep::WriteFailed || outcome.ResultFile == ResultFileStep::RenameFailed)
    Line(screen, ScreenTone::Bad, "RESULT.TXT could not be written: note the verdict above by hand.");
  Line(screen, ScreenTone::Plain, "");
  NextLines(outcome, verdict, folder, screen);
  Line(screen, ScreenTone::Plain, "Press any key to restart the board.");
}
