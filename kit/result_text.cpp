// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/result_text.h"

#include "kit/chip_causes.h"
#include "kit/stick_holdings.h"

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

// "kept=PELLRIX.LOG,BACKUP.BIN": the files of the run folder in `state`,
// RESULT.TXT itself left out; the line is left out when none is.
void AppendHeld(TextLines* text, const char* key, const Holdings& holdings, Held state) {
  HeldFile files[kHeldFiles];
  ListHeldFiles(holdings, files);
  bool first = true;
  for (const HeldFile& file : files) {
    if (file.State != state || file.Name[0] == 'R') continue;
    AppendFormatted(text, "%s%s", first ? key : ",", file.Name);
    first = false;
  }
  if (!first) AppendFormatted(text, "\n");
}

// The clock's zone as the firmware gives it: UTC, an offset, or not said
// (the firmware's local time).
void AppendDate(TextLines* text, const KitOutcome& outcome) {
  if (outcome.Date[0] == '\0') {
    AppendFormatted(text, "date=unknown\n");
  } else if (outcome.DateZone == kZoneLocal) {
    AppendFormatted(text, "date=%s firmware local time\n", outcome.Date);
  } else if (outcome.DateZone == 0) {
    AppendFormatted(text, "date=%s UTC\n", outcome.Date);
  } else {
    int minutes = outcome.DateZone < 0 ? -outcome.DateZone : outcome.DateZone;
    // Print has no field width: the digits one by one.
    AppendFormatted(text, "date=%s firmware zone %c%d%d:%d%d\n", outcome.Date, outcome.DateZone < 0 ? '-' : '+',
                    minutes / 600 % 10, minutes / 60 % 10, minutes % 60 / 10, minutes % 10);
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool SameText(const char* a, uint32_t length, const char* text) {
  uint32_t i = 0;
  for (; i < length; ++i)
    if (text[i] == '\0' || text[i] != a[i]) return false;
  return text[i] == '\0';
}

// `key=value` at `word`, the '=' at `equals` characters in.
void AddField(ResultReading* reading, const char* word, uint32_t length, uint32_t equals) {
  if (reading->FieldCount == kMostResultFields) return;
  ResultField& field = reading->Fields[reading->FieldCount++];
  field.Key = {word, equals};
  field.Value = {word + equals + 1, length - equals - 1};
}

}  // namespace

void ComposeResultText(const KitOutcome& outcome, const char* kitVersion, TextLines* text) {
  KitVerdict verdict = VerdictOf(outcome);
  AppendFormatted(text, "%s", VerdictWord(verdict));
  AppendStep(text, "comparison", outcome.Comparison);
  if (verdict == KitVerdict::Fail) {
    AppendStep(text, "save-main", outcome.SaveMain);
    AppendStep(text, "save-backup", outcome.SaveBackup);
    AppendStep(text, "record", outcome.Record);
  }
  AppendFormatted(text, "\n");
  AppendFormatted(text, "why=%s\n", VerdictReason(outcome));
  AppendFormatted(text, "board=%s\n", outcome.Board[0] != '\0' ? outcome.Board : "unknown");
  if (outcome.Serial[0] != '\0') AppendFormatted(text, "serial=%s\n", outcome.Serial);
  // Main's descriptor, where the comparison read it.
  if (outcome.Model[0] != '\0') AppendFormatted(text, "model=%s\n", outcome.Model);
  if (outcome.Version[0] != '\0') AppendFormatted(text, "version=%s\n", outcome.Version);
  if (outcome.PartNumber[0] != '\0') AppendFormatted(text, "part-number=%s\n", outcome.PartNumber);
  // The dump size a complete save has: the workstation checks each chip
  // file against it.
  if (outcome.PartBytes != 0) AppendFormatted(text, "part-bytes=%d\n", static_cast<int>(outcome.PartBytes));
  AppendDate(text, outcome);
  AppendFormatted(text, "kit=%s\n", kitVersion);
  AppendFormatted(text, "secure-boot=%s\n", outcome.SecureBoot ? "on" : "off");
  AppendFormatted(text, "startup-chip=%s\n", ChipName(outcome.StartupChip));
  AppendFormatted(text, "runs-from=%s\n", ChipName(outcome.ChipNow));
  AppendFormatted(text, "room=%s\n", KeepPlanText(outcome.Plan));
  Holdings holdings = HoldingsOf(outcome);
  AppendFormatted(text, "log=%s\n", holdings.Log == Held::Whole ? "whole" : "incomplete");
  AppendHeld(text, "kept=", holdings, Held::Whole);
  AppendHeld(text, "partial=", holdings, Held::Part);
  // Why the kept chips differ, from their bytes: the chip and the count of
  // erased blocks or of bytes with bit errors.
  if (outcome.Cause.Kind != ChipCause::NotJudged) {
    AppendFormatted(text, "cause=%s\n", CauseWord(outcome.Cause.Kind));
    if (outcome.Cause.Kind != ChipCause::Other)
      AppendFormatted(text, "cause-chip=%s\ncause-count=%d\ncause-from=0x%x\n", CauseChipName(outcome.Cause.Chip),
                      static_cast<int>(outcome.Cause.Count), static_cast<unsigned>(outcome.Cause.FirstOffset));
  }
}

ResultFileStep JudgeResultReadBack(bool writtenWhole, const TextLines& meant, const char* readBack,
                                   uint64_t readLength) {
  if (!writtenWhole || meant.Overflowed) return ResultFileStep::WriteFailed;
  if (readLength != meant.Length) return ResultFileStep::ReadBackDiffers;
  for (uint32_t i = 0; i < meant.Length; ++i)
    if (readBack[i] != meant.Data[i]) return ResultFileStep::ReadBackDiffers;
  return ResultFileStep::Kept;
}

void ReadResultText(const char* text, uint32_t length, ResultReading* reading) {
  *reading = ResultReading{};
  bool blank = true;
  for (uint32_t i = 0; i < length; ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') || byte == 0x7F) {
      reading->Problem = ResultProblem::NotText;
      return;
    }
    if (!IsBlank(text[i]) && text[i] != '\n') blank = false;
  }
  if (blank) {
    reading->Problem = ResultProblem::Empty;
    return;
  }
  bool firstLine = true;
  uint32_t at = 0;
  while (at < length) {
    uint32_t end = at;
    while (end < length && text[end] != '\n') ++end;
    uint32_t lineEnd = end;
    while (lineEnd > at && IsBlank(text[lineEnd - 1])) --lineEnd;
    while (at < lineEnd && IsBlank(text[at])) ++at;
    if (at < lineEnd && firstLine) {
      // The verdict line: words apart, the first the verdict.
      firstLine = false;
      bool verdictWord = true;
      while (at < lineEnd) {
        uint32_t wordEnd = at;
        while (wordEnd < lineEnd && !IsBlank(text[wordEnd])) ++wordEnd;
        uint32_t equals = at;
        while (equals < wordEnd && text[equals] != '=') ++equals;
        if (verdictWord && equals == wordEnd)
          reading->Verdict = {text + at, wordEnd - at};
        else if (equals != wordEnd && equals != at)
          AddField(reading, text + at, wordEnd - at, equals - at);
        verdictWord = false;
        at = wordEnd;
        while (at < lineEnd && IsBlank(text[at])) ++at;
      }
    } else if (at < lineEnd) {
      uint32_t equals = at;
      while (equals < lineEnd && text[equals] != '=') ++equals;
      if (equals != lineEnd && equals != at) AddField(reading, text + at, lineEnd - at, equals - at);
    }
    at = end + 1;
  }
  if (reading->Verdict.Length == 0) reading->Problem = ResultProblem::NoVerdict;
}

const ResultField* FindResultField(const ResultReading& reading, const char* key) {
  for (unsigned i = 0; i < reading.FieldCount; ++i)
    if (SameText(reading.Fields[i].Key.Data, reading.Fields[i].Key.Length, key)) return &reading.Fields[i];
  return nullptr;
}

bool ParseStepStatus(ResultSpan value, uint32_t* status) {
  if (value.Length < 3 || value.Length > 10 || value.Data[0] != '0' || (value.Data[1] != 'x' && value.Data[1] != 'X'))
    return false;
  uint32_t number = 0;
  for (uint32_t i = 2; i < value.Length; ++i) {
    char c = value.Data[i];
    uint32_t digit = 16;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit == 16) return false;
    number = number * 16 + digit;
  }
  *status = number;
  return true;
}

bool SpanIs(ResultSpan span, const char* text) { return SameText(span.Data, span.Length, text); }
