// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UEFI standard compression format (the LZ77 and Huffman scheme UEFI
// defines for compressed firmware sections) in its two variants: EFI 1.1,
// with 4-bit position-set counts, and Tiano, with 5-bit counts. Bounded: the
// output never exceeds the size the header states, and every table is
// checked before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fwtree {

enum class StandardVariant { Efi11, Tiano };

// Decodes `size` bytes at `source` (an 8-byte header: compressed size,
// original size, then the bit stream). The original size must not exceed
// `limit`. False with a short reason in `problem` when the stream is bad
// (`output` then holds what was decoded before the fault) or states 0
// original bytes while holding a stream.
bool StandardDecompress(const uint8_t* source, uint64_t size, StandardVariant variant, uint64_t limit,
                        std::vector<uint8_t>* output, std::string* problem);

// The original size from the header; false when the header does not fit.
bool StandardOriginalSize(const uint8_t* source, uint64_t size, uint32_t* originalSize);

}  // namespace fwtree
