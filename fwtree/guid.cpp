// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/guid.h"

#include <cstring>

namespace fwtree {

Guid GuidAt(const uint8_t* bytes) {
  Guid guid;
  std::memcpy(guid.data(), bytes, guid.size());
  return guid;
}

std::string GuidText(const Guid& g) {
  // Written digit by digit: reports print a GUID for every file and range.
  static constexpr char kDigits[] = "0123456789ABCDEF";
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text(36, '-');
  size_t at = 0;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) ++at;
    text[at++] = kDigits[g[size_t(kOrder[i])] >> 4];
    text[at++] = kDigits[g[size_t(kOrder[i])] & 15];
  }
  return text;
}

}  // namespace fwtree
