// SPDX-License-Identifier: BSD-2-Clause-Patent
// Opening the encapsulation sections whose content must be decoded: the
// compression section's standard compression and the GUID-defined sections
// the firmware's own decoders know.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fwtree/tree_budget.h"
#include "fwtree/guid.h"

namespace fwtree {

enum class GuidedKind { Lzma, LzmaX86, Brotli, Crc32, NoProcessing, Unknown };

// What a GUID-defined section with these attributes holds.
GuidedKind ClassifyGuided(const Guid& guid, uint16_t attributes);

// Both decoders charge `budget` what they produce (a failed run too) and
// leave `reserve` of it to the records of what they decode; a decode that
// would not leave it is refused.

// Standard compression in whichever variant decodes into a well-formed
// section list; the other when only it decodes.
bool DecodeStandard(const uint8_t* data, uint64_t size, TreeBudget& budget, uint64_t reserve, std::vector<uint8_t>* out,
                    std::string* problem);

// LZMA, LZMA with the x86 filter, or Brotli; their working memory (LZMA's
// dictionary, Brotli's window) is reserved while they run.
bool DecodeGuided(GuidedKind kind, const uint8_t* data, uint64_t size, TreeBudget& budget, uint64_t reserve,
                  std::vector<uint8_t>* out, std::string* problem);

// The sections in data[0, size) follow each other at 4-byte boundaries and
// end exactly at its end.
bool SectionsTile(const uint8_t* data, uint64_t size);

}  // namespace fwtree
