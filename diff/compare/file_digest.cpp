// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/file_digest.h"

#include <openssl/sha.h>

namespace pdiff {

std::string Sha256Hex(const uint8_t* bytes, uint64_t count) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(bytes, count, digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace pdiff
