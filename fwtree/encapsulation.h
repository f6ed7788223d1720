// Opening the encapsulation sections whose content must be decoded: the
// compression section's standard compression and the GUID-defined sections
// the firmware's own decoders know.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fwtree/decode_budget.h"
#include "fwtree/guid.h"

namespace fwtree {

enum class GuidedKind { Lzma, LzmaX86, Brotli, Crc32, NoProcessing, Unknown };

// What a GUID-defined section with these attributes holds.
GuidedKind ClassifyGuided(const Guid& guid, uint16_t attributes);

// Standard compression in whichever variant decodes into a well-formed
// section list; the other when only it decodes.
bool DecodeStandard(const uint8_t* data, uint64_t size, DecodeBudget& budget, std::vector<uint8_t>* out,
                    std::string* problem);

// LZMA, LZMA with the x86 filter, or Brotli.
bool DecodeGuided(GuidedKind kind, const uint8_t* data, uint64_t size, DecodeBudget& budget, std::vector<uint8_t>* out,
                  std::string* problem);

// The sections in data[0, size) follow each other at 4-byte boundaries and
// end exactly at its end.
bool SectionsTile(const uint8_t* data, uint64_t size);

}  // namespace fwtree
