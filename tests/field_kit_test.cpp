// SPDX-License-Identifier: BSD-2-Clause-Patent
// The field kit's decisions: which run folder it takes, what it keeps when
// the stick is short of room, the verdict it draws, RESULT.TXT and the final
// screen. The firmware side (files, screen, restart) runs in OVMF in
// tests/uefi/run_field_kit_test.sh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/final_screen.h"
#include "kit/outcome.h"
#include "kit/result_text.h"
#include "kit/room_plan.h"
#include "kit/run_number.h"

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
    ComposeResultText(outcome, "1.0", 16 * kMiB, &text);
    std::vector<std::string> lines = LinesOf(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.firstLine);
    std::string all(text.Data, text.Length);
    for (const char* field : {"board=W25Q128\n", "model=PELLRIX PX-100\n", "version=1.02\n", "part-number=PX100A01\n",
                              "date=2026-12-07 22:15:03\n", "kit=1.0\n", "part-bytes=16777216\n", "secure-boot=on\n",
                              "startup-chip=Main\n", "runs-from=Main\n"})
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
                context.find("explain-run.sh RUN" + std::to_string(1000 + run).substr(1)) != std::string::npos;
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

}  // namespace
