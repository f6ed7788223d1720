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
  switch (status) {
    case 128: return "the two chips match";
    case 130: return "the chips could not be sized or read";
    case 131: return "invalid command";
    case 132: return "the switch between chips failed";
    case 133: return "out of memory";
    case 134: return "flash initialisation failed";
    case 135: return "the flash sizes differ";
    case 136: return "the flash types differ";
    case 137: return "the block sizes differ";
    case 138: return "the BIOS sizes differ";
    case 139: return "the model names differ";
    case 140: return "the versions differ";
    case 141: return "the part numbers differ";
    case 142: return "the chips' contents differ";
    case kStepNotRun: return "the test did not run";
  }
  return "status not known to this kit";
}

const char* ChipName(uint8_t chip) {
  if (chip == 0) return "Main";
  if (chip == 1) return "Backup";
  return "unknown";
}
