// SPDX-License-Identifier: BSD-2-Clause-Patent
// Brotli sections as the usual firmware build tools write them: the 64-bit
// decompressed size, a 64-bit scratch size the firmware's decoder uses, then
// the Brotli stream. Decoded with the Brotli library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtree {

// The most the decoder's ring buffer takes (the format's largest window).
constexpr uint64_t kLargestBrotliWindow = 16ull << 20;

// False with a short reason when the stream is bad, does not decode to
// exactly the stated size, or that size exceeds `limit`; `output` then
// holds what was decoded before the fault. The output grows as it is
// decoded, so a header that overstates costs nothing.
bool BrotliDecompress(const uint8_t* source, uint64_t size, uint64_t limit, std::vector<uint8_t>* output,
                      std::string* problem);

}  // namespace fwtree
