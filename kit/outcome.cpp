// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/outcome.h"

KitVerdict VerdictOf(const KitOutcome& outcome) {
  if (outcome.Comparison == kStatusSuccess) return KitVerdict::Pass;
  if (outcome.Comparison == kStatusNotSupported && outcome.Position == kStatusNotSupported)
    return KitVerdict::Unsupported;
  return KitVerdict::Fail;
}

const char* VerdictWord(KitVerdict verdict) {
  switch (verdict) {
    case KitVerdict::Pass: return "PASS";
    case KitVerdict::Fail: return "FAIL";
    case KitVerdict::Unsupported: return "UNSUPPORTED";
  }
  return "FAIL";
}

const char* ComparisonText(uint32_t status) {
  if (status == kStepNotRun) return "the test did not run";
  const ExitStatusEntry* entry = FindExitStatus(status);
  return entry != nullptr ? entry->Meaning : "status not known to this kit";
}

const char* VerdictReason(const KitOutcome& outcome) {
  if (VerdictOf(outcome) == KitVerdict::Unsupported) {
    if (outcome.Answer == BoardAnswer::NoChipSelect) return "no chip-select service on this board";
    if (outcome.Answer == BoardAnswer::NoMailbox) return "no answer from the board's flash mailbox";
  }
  return ComparisonText(outcome.Comparison);
}

bool ChipsDiffer(uint32_t comparison) {
  return comparison >= StatusValue(ExitStatus::FlashSizeMismatch) &&
         comparison <= StatusValue(ExitStatus::DataMismatch);
}

const char* ChipName(uint8_t chip) {
  if (chip == 0) return "Main";
  if (chip == 1) return "Backup";
  return "unknown";
}
