// SPDX-License-Identifier: BSD-2-Clause-Patent
// LZMA sections as the usual firmware build tools write them: the 13-byte
// header of the "LZMA alone" format (properties, dictionary size, 64-bit
// uncompressed size), then the stream; the x86 variant runs the decoded
// bytes through the x86 branch-call-jump filter. Decoded with liblzma.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtree {

// The largest dictionary the decoder allocates, whatever a header asks:
// firmware build tools use 16 MiB or less.
constexpr uint64_t kLargestLzmaDictionary = 64ull << 20;

// The dictionary the decoder allocates for this stream: what its header
// asks, no more than the stated output (it never looks further back) and no
// more than kLargestLzmaDictionary; 0 when the header does not fit.
uint64_t LzmaDictionarySize(const uint8_t* source, uint64_t size);

// False with a short reason when the stream is bad or its stated size
// exceeds `limit`; `output` then holds what was decoded before the fault.
// The output grows as it is decoded, so a header that overstates costs
// nothing.
bool LzmaDecompress(const uint8_t* source, uint64_t size, bool x86Filter, uint64_t limit, std::vector<uint8_t>* output,
                    std::string* problem);

}  // namespace fwtree
