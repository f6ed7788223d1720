// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/run_number.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void NoteDirectoryEntry(RunNumbering* numbering, const char* name) {
  if (Upper(name[0]) != 'R' || Upper(name[1]) != 'U' || Upper(name[2]) != 'N') return;
  if (!IsDigit(name[3]) || !IsDigit(name[4]) || !IsDigit(name[5]) || name[6] != '\0') return;
  int number = (name[3] - '0') * 100 + (name[4] - '0') * 10 + (name[5] - '0');
  if (number > numbering->Highest) numbering->Highest = number;
}

int NextRunNumber(const RunNumbering& numbering) {
  return numbering.Highest >= kLastRunNumber ? 0 : numbering.Highest + 1;
}

void RunFolderName(int number, char* out) {
  out[0] = 'R';
  out[1] = 'U';
  out[2] = 'N';
  out[3] = static_cast<char>('0' + number / 100 % 10);
  out[4] = static_cast<char>('0' + number / 10 % 10);
  out[5] = static_cast<char>('0' + number % 10);
  out[6] = '\0';
}
