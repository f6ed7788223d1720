// SPDX-License-Identifier: BSD-2-Clause-Patent
// The kit's run folders RUN001..RUN999: the next number follows the highest
// name present, read from the volume's directory once, so a number is never
// used twice even when earlier folders were deleted, and no counter file can
// disagree with what the stick holds.
#pragma once

constexpr int kLastRunNumber = 999;

// The highest RUNnnn seen so far while reading a directory.
struct RunNumbering {
  int Highest = 0;
};

// Notes one directory entry. Files count as well as folders: a file named
// RUNnnn blocks a folder of that name just the same. FAT names compare
// without case.
void NoteDirectoryEntry(RunNumbering* numbering, const char* name);

// The number after the highest one seen; 0 when RUN999 is taken.
int NextRunNumber(const RunNumbering& numbering);

// "RUNnnn" for 1..999 into `out` (7 bytes).
void RunFolderName(int number, char* out);
