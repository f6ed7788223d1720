// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/big_letters.h"

namespace {

struct BigLetter {
  char Letter;
  const char* Rows[kBigLetterRows];
};

constexpr BigLetter kLetters[] = {
    {'A', {" ### ", "#   #", "#####", "#   #", "#   #"}}, {'D', {"#### ", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#### ", "#    ", "#####"}}, {'F', {"#####", "#    ", "#### ", "#    ", "#    "}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "#####"}}, {'L', {"#    ", "#    ", "#    ", "#    ", "#####"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #"}}, {'O', {" ### ", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#### ", "#    ", "#    "}}, {'R', {"#### ", "#   #", "#### ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### "}}, {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", " ### "}},
};

const char* RowOf(char letter, unsigned row) {
  for (const BigLetter& big : kLetters)
    if (big.Letter == letter) return big.Rows[row];
  return "     ";
}

}  // namespace

void AppendBigWord(TextLines* text, const char* word, unsigned indent) {
  for (unsigned row = 0; row < kBigLetterRows; ++row) {
    for (unsigned i = 0; i < indent; ++i) AppendFormatted(text, " ");
    for (const char* c = word; *c != '\0'; ++c) AppendFormatted(text, "%s%s", c == word ? "" : " ", RowOf(*c, row));
    AppendFormatted(text, "\n");
  }
}
