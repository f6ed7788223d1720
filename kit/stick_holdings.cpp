// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/stick_holdings.h"

namespace {

// A chip file is whole when its save ended well and the stick holds the
// part's size of it; any other file of that name is a part of one.
Held ChipHeld(uint64_t bytes, uint32_t saveStatus, uint64_t partBytes) {
  if (bytes == 0) return Held::None;
  bool sized = partBytes == 0 || bytes == partBytes;
  return saveStatus == kStatusSuccess && sized ? Held::Whole : Held::Part;
}

}  // namespace

Holdings HoldingsOf(const KitOutcome& outcome) {
  Holdings holdings;
  if (outcome.RunNumber == 0 || outcome.FolderFailed) return holdings;
  holdings.Folder = true;
  holdings.Log = outcome.Stock.LogWhole ? Held::Whole : Held::Part;
  holdings.Result = outcome.ResultFile == ResultFileStep::Kept;
  holdings.Main = ChipHeld(outcome.Stock.MainBytes, outcome.SaveMain, outcome.PartBytes);
  holdings.Backup = ChipHeld(outcome.Stock.BackupBytes, outcome.SaveBackup, outcome.PartBytes);
  if (outcome.Stock.RecordFolder) holdings.Record = outcome.Record == kStatusSuccess ? Held::Whole : Held::Part;
  return holdings;
}

void ListHeldFiles(const Holdings& holdings, HeldFile (&files)[kHeldFiles]) {
  files[0] = {"PELLRIX.LOG", "the log", holdings.Log};
  files[1] = {"RESULT.TXT", "RESULT.TXT", holdings.Result ? Held::Whole : Held::None};
  files[2] = {"MAIN.BIN", "the Main chip", holdings.Main};
  files[3] = {"BACKUP.BIN", "the Backup chip", holdings.Backup};
  files[4] = {"PELLRIX.REC", "the board record", holdings.Record};
}
