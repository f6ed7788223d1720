// SPDX-License-Identifier: BSD-2-Clause-Patent
// A small encoder for the UEFI standard compression format, for tests: one
// fixed set of code tables (every literal and match length has a 8- or 9-bit
// code, positions up to 8 KiB back) and greedy matching. Any valid stream is
// enough to hold the decoder to the format; this is not the firmware tools'
// encoder and makes no attempt at their ratios.
#pragma once

#include <cstdint>
#include <vector>

#include "fwtree/standard_decompress.h"

namespace support {

// The 8-byte header (compressed size, original size) and the bit stream.
std::vector<uint8_t> StandardCompress(const std::vector<uint8_t>& data, fwtree::StandardVariant variant);

// A literal (symbol below 256) or a match of symbol - 253 bytes starting
// distance + 1 bytes back.
struct StandardToken {
  uint16_t symbol;
  uint32_t distance;
};

// A stream of exactly `tokens`, whatever they mean, stating `originalSize`:
// for streams no encoder writes. `incompleteCharCode` gives every literal
// and length a 9-bit code, leaving part of the code space unused.
std::vector<uint8_t> StandardEncodeTokens(const std::vector<StandardToken>& tokens, uint32_t originalSize,
                                          fwtree::StandardVariant variant, bool incompleteCharCode = false);

}  // namespace support
