// SPDX-License-Identifier: BSD-2-Clause-Patent
// The field kit's decisions: which run folder it takes, what it keeps when
// the stick is short of room, the verdict it draws, RESULT.TXT and the final
// screen. The firmware side (files, screen, restart) runs in OVMF in
// tests/uefi/run_field_kit_test.sh.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "kit/chip_causes.h"
#include "kit/final_screen.h"
#include "kit/outcome.h"
#include "kit/result_text.h"
#include "kit/room_plan.h"
#include "kit/run_number.h"
#include "kit/smbios_serial.h"
#include "kit/stick_holdings.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

std::vector<std::string> LinesOf(const TextLines& text) {
  std::vector<std::string> lines;
  std::string line;
  for (uint32_t i = 0; i < text.Length; ++i) {
    if (text.Data[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += text.Data[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Catches: a number used twice after a gap or a deletion, a name that only
// looks like a run folder counted, no end at RUN999.
TEST(FieldKitRunNumber, FollowsTheHighestRunFolderPresent) {
  struct Case {
    std::vector<const char*> names;
    int next;
  };
  const Case cases[] = {
      {{}, 1},
      {{"EFI", "README.TXT", "pellrix.efi"}, 1},
      {{"RUN001", "RUN002"}, 3},
      {{"RUN007", "RUN001"}, 8},
      {{"run012", "Run003"}, 13},
      {{"RUN1", "RUN0001", "RUNABC", "RUN01X", "XRUN005", "RUN005.OLD", "RUN 05"}, 1},
      {{"RUN998"}, 999},
      {{"RUN999", "RUN001"}, 0},
  };
  for (const Case& c : cases) {
    RunNumbering numbering;
    for (const char* name : c.names) NoteDirectoryEntry(&numbering, name);
    EXPECT_EQ(NextRunNumber(numbering), c.next) << (c.names.empty() ? "(empty)" : c.names[0]);
  }
  char name[8];
  RunFolderName(7, name);
  EXPECT_STREQ(name, "RUN007");
  RunFolderName(999, name);
  EXPECT_STREQ(name, "RUN999");
}

// Catches: a file not rounded to whole clusters, the cluster a save or the
// record keeps back left out (a "yes" that then finds no room), the record
// kept before the chips.
TEST(FieldKitRoom, CountsEveryFileInWholeClustersAndKeepsTheChipsFirst) {
  EvidenceBytes bytes = EvidenceBytesFor(16 * kMiB, 4096);
  EXPECT_EQ(bytes.LogAndResult, 2637824u);  // folder, 2.5 MiB log, RESULT.NEW/.TXT, rename
  EXPECT_EQ(bytes.Chips, 33562624u);        // two parts, a cluster each kept back
  EXPECT_EQ(bytes.Record, 33628160u);       // folder, two images, 64 KiB board.json, a cluster
  // A part that is not a whole number of clusters takes the next cluster.
  EvidenceBytes odd = EvidenceBytesFor(16 * kMiB + 1, 32768);
  EXPECT_EQ(odd.Chips, 2 * (16 * kMiB + 32768 + 32768));

  const uint64_t log = bytes.LogAndResult;
  const uint64_t chips = log + bytes.Chips;
  const uint64_t all = chips + bytes.Record;
  struct Case {
    uint64_t freeBytes;
    KeepPlan plan;
  };
  const Case cases[] = {
      {0, KeepPlan::Nothing},
      {8192, KeepPlan::Nothing},
      {log - 1, KeepPlan::Nothing},
      {log, KeepPlan::LogOnly},
      {chips - 1, KeepPlan::LogOnly},
      {chips, KeepPlan::LogAndChips},
      {65 * kMiB, KeepPlan::LogAndChips},
      {all - 1, KeepPlan::LogAndChips},
      {all, KeepPlan::Everything},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PlanWhatToKeep(c.freeBytes, 4096, 16 * kMiB), c.plan) << c.freeBytes << " bytes free";
}

// Catches: an unsupported board told by one status alone (a comparison that
// stopped at 130 on a board that answers the position query is a failure,
// and so is any other comparison status on a board that does not), a pass
// on anything but 128.
TEST(FieldKitVerdict, UnsupportedOnlyWhenTheComparisonAndThePositionQueryAreBothRefused) {
  struct Case {
    uint32_t comparison;
    uint32_t position;
    KitVerdict verdict;
  };
  const Case cases[] = {
      {128, 145, KitVerdict::Pass}, {128, 130, KitVerdict::Pass}, {130, 130, KitVerdict::Unsupported},
      {130, 145, KitVerdict::Fail}, {130, 146, KitVerdict::Fail}, {130, kStepNotRun, KitVerdict::Fail},
      {142, 130, KitVerdict::Fail}, {132, 146, KitVerdict::Fail}, {kStepNotRun, kStepNotRun, KitVerdict::Fail},
  };
  for (const Case& c : cases) {
    KitOutcome outcome;
    outcome.Comparison = c.comparison;
    outcome.Position = c.position;
    EXPECT_EQ(VerdictOf(outcome), c.verdict) << c.comparison << "/" << c.position;
  }
}

// Catches: a log bound that does not grow with the part: a failed run on
// 16 MiB chips logged 1,408,153 bytes in OVMF, most of them progress lines
// whose number grows with the part, and a log cut short loses the final
// screen the explain step looks for.
TEST(FieldKitRoom, LogBoundHoldsAFailedRunsLogForEveryPartSize) {
  constexpr uint64_t kLoggedFor16MiB = 1408153;
  for (uint64_t part : {4 * kMiB, 16 * kMiB, 32 * kMiB, 64 * kMiB})
    EXPECT_GE(KitLogBound(part), kLoggedFor16MiB * part / (16 * kMiB) + 64 * 1024) << part;
}

KitOutcome FailedRun() {
  KitOutcome outcome;
  outcome.Comparison = 142;
  outcome.Position = 145;
  outcome.SaveMain = 128;
  outcome.SaveBackup = 128;
  outcome.Plan = KeepPlan::LogAndChips;
  outcome.RunNumber = 4;
  outcome.StartupChip = 0;
  outcome.ChipNow = 0;
  outcome.SecureBoot = true;
  snprintf(outcome.Board, sizeof outcome.Board, "%s", "W25Q128");
  snprintf(outcome.Model, sizeof outcome.Model, "%s", "PELLRIX PX-100");
  snprintf(outcome.Version, sizeof outcome.Version, "%s", "1.02");
  snprintf(outcome.PartNumber, sizeof outcome.PartNumber, "%s", "PX100A01");
  snprintf(outcome.Date, sizeof outcome.Date, "%s", "2026-12-07 22:15:03");
  return outcome;
}

// Catches: a first line the workstation cannot read (a step missing, a step
// that did not run shown as a status), the board's flash part or identity,
// the date, kit, part size or chip left out.
TEST(FieldKitResultText, FirstLineHoldsTheVerdictAndStepsTheRestTheRun) {
  struct Case {
    uint32_t comparison;
    uint32_t position;
    const char* firstLine;
  };
  const Case cases[] = {
      {128, 145, "PASS comparison=0x80"},
      {130, 130, "UNSUPPORTED comparison=0x82"},
      {142, 145, "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=none"},
  };
  for (const Case& c : cases) {
    KitOutcome outcome = FailedRun();
    outcome.Comparison = c.comparison;
    outcome.Position = c.position;
    TextLines text;
    outcome.PartBytes = 16 * kMiB;
    ComposeResultText(outcome, "1.0", &text);
    std::vector<std::string> lines = LinesOf(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.firstLine);
    std::string all(text.Data, text.Length);
    for (const char* field : {"board=W25Q128\n", "model=PELLRIX PX-100\n", "version=1.02\n", "part-number=PX100A01\n",
                              "date=2026-12-07 22:15:03 firmware local time\n", "kit=1.0\n", "part-bytes=16777216\n",
                              "secure-boot=on\n", "startup-chip=Main\n", "runs-from=Main\n"})
      EXPECT_NE(all.find(field), std::string::npos) << field << " missing in\n" << all;
  }
}

// Catches: a RESULT.TXT renamed into place although the stick returned other
// bytes, fewer bytes, or the new bytes followed by an older file's tail, or
// although the write itself fell short; and a read-back mismatch that the
// final screen does not show as a failed step.
TEST(FieldKitResultText, OnlyAResultReadBackExactlyIsKept) {
  TextLines meant;
  AppendFormatted(&meant, "FAIL comparison=0x8E\nboard=W25Q128\n");
  const std::string whole(meant.Data, meant.Length);
  std::string flipped = whole;
  flipped[5] ^= 0x20;
  struct Case {
    bool writtenWhole;
    std::string readBack;
    ResultFileStep step;
  };
  const Case cases[] = {
      {true, whole, ResultFileStep::Kept},
      {false, whole, ResultFileStep::WriteFailed},
      {true, flipped, ResultFileStep::ReadBackDiffers},
      {true, whole.substr(0, whole.size() - 1), ResultFileStep::ReadBackDiffers},
      {true, whole + "OLD", ResultFileStep::ReadBackDiffers},
      {true, "", ResultFileStep::ReadBackDiffers},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JudgeResultReadBack(c.writtenWhole, meant, c.readBack.data(), c.readBack.size()), c.step) << c.readBack;
    KitOutcome outcome = FailedRun();
    outcome.ResultFile = c.step;
    FinalScreen screen;
    ComposeFinalScreen(outcome, &screen);
    std::string text(screen.Text.Data, screen.Text.Length);
    bool kept = c.step == ResultFileStep::Kept;
    EXPECT_EQ(text.find("the log, RESULT.TXT") != std::string::npos, kept) << text;
    EXPECT_EQ(text.find("note the verdict") != std::string::npos, !kept) << text;
  }
}

// Catches: a final-screen line wider than 80 columns or a screen taller than
// 24 rows (it would wrap or scroll the verdict away), a verdict without its
// big letters, the chip the board runs from not flagged when it is not the
// start-up chip, the explain command without the run folder.
TEST(FieldKitFinalScreen, EveryScreenFitsAndSaysWhatHappened) {
  const uint32_t comparisons[] = {128, 130, 132, 142, kStepNotRun};
  const uint32_t positions[] = {145, 146, 130};
  const int runNumbers[] = {0, 12, 999};
  const KeepPlan plans[] = {KeepPlan::Nothing, KeepPlan::LogOnly, KeepPlan::LogAndChips, KeepPlan::Everything};
  int screens = 0;
  for (uint32_t comparison : comparisons)
    for (uint32_t position : positions)
      for (int run : runNumbers)
        for (KeepPlan plan : plans)
          for (bool exhausted : {false, true}) {
            KitOutcome outcome = FailedRun();
            outcome.Comparison = comparison;
            outcome.Position = position;
            outcome.ChipNow = position == 145 ? 0 : position == 146 ? 1 : kChipUnknown;
            outcome.RunNumber = exhausted ? 0 : run;
            outcome.RunNumbersExhausted = exhausted;
            outcome.FolderFailed = !exhausted && run == 0;
            outcome.Plan = plan;
            outcome.Record = plan == KeepPlan::Everything ? 128 : kStepNotRun;
            outcome.ResultFile = run == 999 ? ResultFileStep::ReadBackDiffers : ResultFileStep::Kept;
            FinalScreen screen;
            ComposeFinalScreen(outcome, &screen);
            ++screens;
            std::vector<std::string> lines = LinesOf(screen.Text);
            std::string context = std::string(screen.Text.Data, screen.Text.Length);
            ASSERT_FALSE(screen.Text.Overflowed);
            EXPECT_LE(WidestLine(screen.Text), kScreenColumns) << context;
            EXPECT_LT(lines.size(), kScreenRows) << context;
            EXPECT_EQ(lines.size(), screen.Lines) << context;
            EXPECT_NE(lines[0].find("#"), std::string::npos) << context;
            std::string verdictLine = std::string("Verdict: ") + VerdictWord(VerdictOf(outcome));
            EXPECT_NE(context.find(verdictLine), std::string::npos) << context;
            bool flagged = context.find("NOT the start-up chip") != std::string::npos;
            EXPECT_EQ(flagged, outcome.ChipNow == 1) << context;
            bool explains =
                context.find("pellrix-explain-run RUN" + std::to_string(1000 + run).substr(1)) != std::string::npos;
            EXPECT_EQ(explains, outcome.RunNumber != 0 && !outcome.FolderFailed) << context;
            EXPECT_EQ(context.find("No run number left") != std::string::npos, exhausted) << context;
            EXPECT_EQ(context.find("RESULT.TXT read back wrong") != std::string::npos,
                      outcome.ResultFile == ResultFileStep::ReadBackDiffers)
                << context;
            // The flagged lines are shown in the verdict's or a warning's colour.
            for (unsigned row = 0; row < 5; ++row)
              EXPECT_EQ(screen.Tones[row], VerdictOf(outcome) == KitVerdict::Pass ? ScreenTone::Good : ScreenTone::Bad);
          }
  EXPECT_EQ(screens, 5 * 3 * 3 * 4 * 2);
}

// One row of the outcome table: what each step did, and the stick the row
// leaves behind, built from the steps alone (not from the kit's code).
enum class Step { NotTried, Written, FailedNothing, FailedPartial };
enum class Ending { Pass, Fail, Unsupported, RestoreFailed };

struct StickFile {
  std::string name;
  bool whole;
};

uint32_t StatusOf(Step step) {
  switch (step) {
    case Step::NotTried: return kStepNotRun;
    case Step::Written: return 128;
    case Step::FailedNothing: return 130;
    case Step::FailedPartial: return 132;
  }
  return kStepNotRun;
}

std::vector<std::string> SplitOn(const std::string& text, const std::string& joint) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (!text.empty()) {
    size_t next = text.find(joint, at);
    parts.push_back(text.substr(at, next - at));
    if (next == std::string::npos) break;
    at = next + joint.size();
  }
  return parts;
}

// A list the screen wraps over several lines, read back whole: the line
// starting with `head` and the indented lines after it.
std::string WrappedList(const std::vector<std::string>& lines, const std::string& head, const std::string& joint) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(head, 0) != 0) continue;
    std::string list = lines[i].substr(head.size());
    for (size_t j = i + 1; j < lines.size() && lines[j].rfind("  ", 0) == 0 && lines[j].rfind("  The", 0) != 0; ++j)
      list += joint + lines[j].substr(2);
    return list;
  }
  return "";
}

std::string ResultValue(const ResultReading& reading, const char* key) {
  const ResultField* field = FindResultField(reading, key);
  return field == nullptr ? "(absent)" : std::string(field->Value.Data, field->Value.Length);
}

// Catches, in every outcome: a chip kept when only one save succeeded left
// off the screen ("NOT the chips"), a partial record called whole or not
// named, a file on the screen that is not on the stick (or the reverse),
// RESULT.TXT's kept=/partial=/log= disagreeing with the screen, a failed log
// write not shown, runs-from= naming the start-up chip on a board left on
// Backup, a line over 80 columns or a screen over 24 rows, the Secure Boot
// state or the explain command missing, the differing chip not named.
TEST(FieldKitOutcomeTable, ScreenResultAndStickAgreeInEveryOutcome) {
  const Step steps[] = {Step::NotTried, Step::Written, Step::FailedNothing, Step::FailedPartial};
  const KeepPlan plans[] = {KeepPlan::Nothing, KeepPlan::LogOnly, KeepPlan::LogAndChips, KeepPlan::Everything};
  const uint64_t part = 16 * kMiB;
  int rows = 0;
  for (Ending ending : {Ending::Pass, Ending::Fail, Ending::Unsupported, Ending::RestoreFailed})
    for (Step saveMain : steps)
      for (Step saveBackup : steps)
        for (Step record : steps)
          for (bool logWhole : {true, false})
            for (KeepPlan plan : plans)
              for (bool resultKept : {true, false}) {
                bool fails = ending == Ending::Fail || ending == Ending::RestoreFailed;
                // Only a failure saves or records anything.
                if (!fails && (saveMain != Step::NotTried || saveBackup != Step::NotTried || record != Step::NotTried))
                  continue;
                ++rows;
                KitOutcome outcome = FailedRun();
                outcome.PartBytes = part;
                outcome.Plan = plan;
                outcome.SecureBoot = rows % 2 == 0;
                outcome.Answer = rows % 3 == 0   ? BoardAnswer::NoChipSelect
                                 : rows % 3 == 1 ? BoardAnswer::NoMailbox
                                                 : BoardAnswer::Answered;
                outcome.Comparison = ending == Ending::Pass          ? 128
                                     : ending == Ending::Unsupported ? 130
                                     : ending == Ending::Fail        ? 142
                                                                     : 132;
                outcome.Position = ending == Ending::Unsupported ? 130 : ending == Ending::RestoreFailed ? 146 : 145;
                outcome.StartupChip = ending == Ending::Unsupported ? kChipUnknown : 0;
                outcome.ChipNow = ending == Ending::Unsupported     ? kChipUnknown
                                  : ending == Ending::RestoreFailed ? 1
                                                                    : 0;
                outcome.SaveMain = StatusOf(saveMain);
                outcome.SaveBackup = StatusOf(saveBackup);
                outcome.Record = StatusOf(record);
                outcome.ResultFile = resultKept ? ResultFileStep::Kept : ResultFileStep::WriteFailed;
                // The stick as the steps leave it.
                std::vector<StickFile> stick = {{"PELLRIX.LOG", logWhole}};
                if (resultKept) stick.push_back({"RESULT.TXT", true});
                auto add = [&](const char* name, Step step, uint64_t* bytes) {
                  if (step == Step::Written || step == Step::FailedPartial)
                    stick.push_back({name, step == Step::Written});
                  if (bytes != nullptr && step == Step::Written) *bytes = part;
                  if (bytes != nullptr && step == Step::FailedPartial) *bytes = part / 2;
                };
                add("MAIN.BIN", saveMain, &outcome.Stock.MainBytes);
                add("BACKUP.BIN", saveBackup, &outcome.Stock.BackupBytes);
                add("PELLRIX.REC", record, nullptr);
                outcome.Stock.RecordFolder = record == Step::Written || record == Step::FailedPartial;
                outcome.Stock.LogWhole = logWhole;
                // The cause the kit reads from the chips, when both are kept
                // whole: the widest counts a 256 MiB part can give.
                const bool bothKept = fails && saveMain == Step::Written && saveBackup == Step::Written;
                const CauseFinding causes[] = {
                    {ChipCause::Erased, 1, 65536, 0, 0xFFF000},
                    {ChipCause::BitErrors, 0, 65536, 131072, 0x1234},
                    {ChipCause::BitErrors, 2, 65536, 131072, 0x10},
                    {ChipCause::Other, 0xFF, 0, 0, 0},
                };
                if (bothKept) outcome.Cause = causes[rows % 4];

                FinalScreen screen;
                ComposeFinalScreen(outcome, &screen);
                TextLines result;
                ComposeResultText(outcome, "1.0", &result);
                const std::string text(screen.Text.Data, screen.Text.Length);
                const std::string context = text + "\n--- RESULT.TXT\n" + std::string(result.Data, result.Length);
                std::vector<std::string> lines = LinesOf(screen.Text);
                ASSERT_FALSE(screen.Text.Overflowed) << context;
                ASSERT_FALSE(result.Overflowed) << context;
                for (const std::string& line : lines) EXPECT_LE(line.size(), kScreenColumns) << line << "\n" << context;
                EXPECT_LT(lines.size(), kScreenRows) << context;
                EXPECT_NE(text.find(outcome.SecureBoot ? "Secure Boot: on" : "Secure Boot: off"), std::string::npos)
                    << context;

                // The screen's kept list, the file list to send and RESULT.TXT
                // against the stick.
                const std::vector<std::string> keptItems = SplitOn(WrappedList(lines, "Kept in RUN004: ", ", "), ", ");
                // The files to bring back: the log first, then the others.
                std::vector<std::string> sentNames;
                for (const std::string& name : SplitOn(WrappedList(lines, "  PELLRIX.LOG", " "), " "))
                  if (!name.empty()) sentNames.push_back(name);
                ResultReading reading;
                ReadResultText(result.Data, result.Length, &reading);
                ASSERT_EQ(reading.Problem, ResultProblem::None) << context;
                std::vector<std::string> wantItems;
                std::string wantKept;
                std::string wantPartial;
                const std::map<std::string, std::string> words = {{"PELLRIX.LOG", "the log"},
                                                                  {"RESULT.TXT", "RESULT.TXT"},
                                                                  {"MAIN.BIN", "the Main chip"},
                                                                  {"BACKUP.BIN", "the Backup chip"},
                                                                  {"PELLRIX.REC", "the board record"}};
                for (bool whole : {true, false})
                  for (const StickFile& file : stick) {
                    if (file.whole != whole) continue;
                    const std::string& word = words.at(file.name);
                    wantItems.push_back(whole                        ? word
                                        : file.name == "PELLRIX.LOG" ? word + " (cut short)"
                                                                     : "part of " + word);
                    if (file.name == "RESULT.TXT") continue;
                    std::string& list = whole ? wantKept : wantPartial;
                    list += (list.empty() ? "" : ",") + file.name;
                  }
                EXPECT_EQ(keptItems, wantItems) << context;
                std::vector<std::string> names;
                for (const StickFile& file : stick) names.push_back(file.name);
                EXPECT_EQ(sentNames, std::vector<std::string>(names.begin() + 1, names.end())) << context;
                EXPECT_EQ(ResultValue(reading, "kept"), wantKept.empty() ? "(absent)" : wantKept) << context;
                EXPECT_EQ(ResultValue(reading, "partial"), wantPartial.empty() ? "(absent)" : wantPartial) << context;
                EXPECT_EQ(ResultValue(reading, "log"), logWhole ? "whole" : "incomplete") << context;
                EXPECT_EQ(text.find("The log stops early") != std::string::npos, !logWhole) << context;
                // What a failure meant to keep and did not, named as not kept.
                std::string notKept = WrappedList(lines, "NOT kept whole: ", ", ");
                std::vector<std::string> wantMissing;
                if (fails)
                  for (const char* name : {"MAIN.BIN", "BACKUP.BIN", "PELLRIX.REC"}) {
                    bool whole = false;
                    for (const StickFile& file : stick) whole = whole || (file.name == name && file.whole);
                    if (!whole) wantMissing.push_back(words.at(name));
                  }
                EXPECT_EQ(notKept.empty() ? std::vector<std::string>{} : SplitOn(notKept, ", "), wantMissing)
                    << context;

                // The chip the board is left on, and the statuses as run.
                EXPECT_EQ(ResultValue(reading, "runs-from"), ending == Ending::RestoreFailed ? "Backup"
                                                             : ending == Ending::Unsupported ? "unknown"
                                                                                             : "Main")
                    << context;
                EXPECT_EQ(ResultValue(reading, "startup-chip"), ending == Ending::Unsupported ? "unknown" : "Main");
                uint32_t status = 0;
                if (fails) {
                  const ResultField* field = FindResultField(reading, "save-main");
                  ASSERT_NE(field, nullptr) << context;
                  EXPECT_EQ(ParseStepStatus(field->Value, &status) ? status : kStepNotRun, outcome.SaveMain);
                }
                EXPECT_EQ(text.find("pellrix-explain-run RUN004") != std::string::npos, true) << context;
                // The cause of kept chips on the screen and in RESULT.TXT,
                // with its chip; none claimed for chips not kept.
                const ChipCause cause = outcome.Cause.Kind;
                const bool told = cause == ChipCause::Erased || cause == ChipCause::BitErrors;
                EXPECT_EQ(text.find("Why: ") != std::string::npos, told) << context;
                EXPECT_EQ(ResultValue(reading, "cause"), cause == ChipCause::NotJudged ? "(absent)"
                                                         : cause == ChipCause::Erased  ? "erased"
                                                         : cause == ChipCause::Other   ? "other"
                                                                                       : "bit-errors")
                    << context;
                if (told) {
                  const std::string chip = CauseChipName(outcome.Cause.Chip);
                  EXPECT_EQ(ResultValue(reading, "cause-chip"), chip) << context;
                  EXPECT_NE(text.find(chip == "both" ? "both ways" : "Why: " + chip), std::string::npos) << context;
                }
                // An unsupported board: which question it did not answer.
                if (ending == Ending::Unsupported) {
                  const char* why = rows % 3 == 0   ? "no chip-select service on this board"
                                    : rows % 3 == 1 ? "no answer from the board's flash mailbox"
                                                    : "the chips could not be sized or read";
                  EXPECT_EQ(ResultValue(reading, "why"), why) << context;
                  EXPECT_NE(text.find(std::string("Nothing to compare, save or record: ") + why + "."),
                            std::string::npos)
                      << context;
                }
                EXPECT_EQ(text.find("Backup differs from Main: bring back RUN004") != std::string::npos,
                          ending == Ending::Fail)
                    << context;
              }
  // 2 x (16 x 4 x 2) without saves, 2 x (64 x 16) with them.
  EXPECT_EQ(rows, 2 * 16 + 2 * 64 * 16);
}

// Catches: a serial read past the table on a lying length, the baseboard's
// serial taken when the system has one, blank padding kept, a missing
// string taken for another structure's.
TEST(FieldKitSmbios, SerialFromTheSystemElseTheBaseboardWithinTheTable) {
  auto structure = [](uint8_t type, uint8_t serial, std::vector<std::string> strings) {
    std::vector<uint8_t> bytes = {type, 8, 0, 0, 1, 2, 3, serial};
    for (const std::string& text : strings) {
      bytes.insert(bytes.end(), text.begin(), text.end());
      bytes.push_back(0);
    }
    if (strings.empty()) bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
  };
  auto join = [](std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const auto end = structure(127, 0, {});
  struct Case {
    std::vector<uint8_t> table;
    const char* serial;
  };
  const Case cases[] = {
      {join({structure(2, 1, {"BB-7"}), structure(1, 2, {"Maker", "SN 0042  "}), end}), "SN 0042"},
      {join({structure(1, 0, {"Maker"}), structure(2, 1, {"BB-7"}), end}), "BB-7"},
      {join({structure(1, 3, {"Maker"}), end}), ""},
      {join({structure(0, 0, {}), structure(1, 1, {"A\x01Z"}), end}), "A?Z"},
  };
  for (const Case& c : cases) {
    char serial[65] = "x";
    FindSmbiosSerial(c.table.data(), c.table.size(), serial, sizeof serial);
    EXPECT_STREQ(serial, c.serial);
  }
  // The whole table lies in memory, its length cut anywhere: a structure is
  // read only when it ends within the length (14 bytes the baseboard's, 25
  // the system's after it).
  const std::vector<uint8_t> whole = cases[0].table;
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    char serial[65];
    FindSmbiosSerial(whole.data(), cut, serial, sizeof serial);
    EXPECT_STREQ(serial, cut < 14 ? "" : cut < 39 ? "BB-7" : "SN 0042") << cut;
  }
}

}  // namespace
