// Brotli sections as the usual firmware build tools write them: the 64-bit
// decompressed size, a 64-bit scratch size the firmware's decoder uses, then
// the Brotli stream. Decoded with the Brotli library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtree {

bool BrotliDecompress(const uint8_t* source, uint64_t size, uint64_t limit, std::vector<uint8_t>* output,
                      std::string* problem);

}  // namespace fwtree
