// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/chip_causes.h"

CauseFinding JudgeChipCauses(const FlashCauses& causes) {
  CauseFinding finding;
  finding.Kind = ChipCause::Other;
  const uint32_t erasedOnMain = causes.ErasedBlocks[0];
  const uint32_t erasedOnBackup = causes.ErasedBlocks[1];
  if ((erasedOnMain == 0) != (erasedOnBackup == 0) && causes.OtherBlocks + causes.BitErrorBlocks <= 1) {
    const uint8_t chip = erasedOnMain != 0 ? 0 : 1;
    finding.Kind = ChipCause::Erased;
    finding.Chip = chip;
    finding.Count = causes.ErasedBlocks[chip];
    finding.FirstOffset = causes.ErasedRunCount[chip] != 0 ? causes.ErasedRuns[chip][0].Offset : 0;
    return finding;
  }
  if (causes.BitErrorBytes != 0 && causes.OtherBlocks == 0 && erasedOnMain == 0 && erasedOnBackup == 0) {
    const int chip = BitErrorChip(causes);
    finding.Kind = ChipCause::BitErrors;
    finding.Chip = chip < 0 ? 2 : uint8_t(chip);
    finding.Count = causes.BitErrorBytes;
    finding.Bits = causes.BitsOneOn[0] + causes.BitsOneOn[1];
    finding.FirstOffset = causes.BitErrorOffsets[0];
  }
  return finding;
}

const char* CauseWord(ChipCause cause) {
  switch (cause) {
    case ChipCause::Erased: return "erased";
    case ChipCause::BitErrors: return "bit-errors";
    case ChipCause::Other: return "other";
    case ChipCause::NotJudged: break;
  }
  return "none";
}

const char* CauseChipName(uint8_t chip) {
  if (chip == 2) return "both";
  return ChipName(chip);
}

void AppendCauseSentence(const CauseFinding& cause, TextLines* text) {
  const char* chip = CauseChipName(cause.Chip);
  // The counts of a part of up to 256 MiB keep the line within 80 columns.
  const int count = static_cast<int>(cause.Count);
  if (cause.Kind == ChipCause::Erased) {
    AppendFormatted(text, "Why: %s has %d erased 4 KiB blocks: an update cut short; reflash %s.", chip, count, chip);
  } else if (cause.Kind == ChipCause::BitErrors && cause.Chip == 2) {
    AppendFormatted(text, "Why: %d bit errors in %d bytes, both ways: failing chips; replace both.",
                    static_cast<int>(cause.Bits), count);
  } else if (cause.Kind == ChipCause::BitErrors) {
    AppendFormatted(text, "Why: %s has %d bit errors in %d bytes: a failing chip; replace it.", chip,
                    static_cast<int>(cause.Bits), count);
  }
}
