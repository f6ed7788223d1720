// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the run folder holds, drawn from the stock the kit takes of it after
// the steps and from each step's status: the final screen, RESULT.TXT's
// kept= and partial= lines and the file list all come from here, so they
// cannot disagree.
#pragma once

#include "kit/outcome.h"

// Part: the file is on the stick but not whole (a save that failed after
// writing, a record cut short, a log the stick stopped taking).
enum class Held : uint8_t { None, Part, Whole };

struct Holdings {
  bool Folder = false;  // the run folder and its log were written
  Held Log = Held::None;
  bool Result = false;  // RESULT.TXT read back as meant and renamed
  Held Main = Held::None;
  Held Backup = Held::None;
  Held Record = Held::None;
};

Holdings HoldingsOf(const KitOutcome& outcome);

// The files and folders of the run folder in the order the kit writes them,
// with what each holds.
struct HeldFile {
  const char* Name;   // "MAIN.BIN"
  const char* Words;  // "the Main chip", for the screen
  Held State;
};
constexpr unsigned kHeldFiles = 5;
void ListHeldFiles(const Holdings& holdings, HeldFile (&files)[kHeldFiles]);
