// LZMA sections as the usual firmware build tools write them: the 13-byte
// header of the "LZMA alone" format (properties, dictionary size, 64-bit
// uncompressed size), then the stream; the x86 variant runs the decoded
// bytes through the x86 branch-call-jump filter. Decoded with liblzma.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtree {

// False with a short reason when the stream is bad or its stated size
// exceeds `limit`.
bool LzmaDecompress(const uint8_t* source, uint64_t size, bool x86Filter, uint64_t limit, std::vector<uint8_t>* output,
                    std::string* problem);

}  // namespace fwtree
