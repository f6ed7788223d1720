// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/encapsulation.h"

#include <algorithm>

#include "fwtree/brotli_decompress.h"
#include "fwtree/lzma_decompress.h"
#include "fwtree/standard_decompress.h"
#include "image/layout.h"

namespace fwtree {

namespace {

using image_layout::Load24;
using image_layout::Load32;
using image_layout::Load64;

constexpr uint16_t kProcessingRequired = 0x01;

// The size a decoder will produce, read from its header before it runs, so
// the budget is charged before anything is allocated.
bool StatedSize(GuidedKind kind, const uint8_t* data, uint64_t size, uint64_t* stated) {
  if (kind == GuidedKind::Brotli) {
    if (size < 8) return false;
    *stated = Load64(data);
    return true;
  }
  if (size < 13) return false;
  *stated = Load64(data + 5);
  return true;
}

}  // namespace

GuidedKind ClassifyGuided(const Guid& guid, uint16_t attributes) {
  if (guid == kLzmaSection) return GuidedKind::Lzma;
  if (guid == kLzmaX86Section) return GuidedKind::LzmaX86;
  if (guid == kBrotliSection) return GuidedKind::Brotli;
  if (guid == kCrc32Section) return GuidedKind::Crc32;
  return (attributes & kProcessingRequired) ? GuidedKind::Unknown : GuidedKind::NoProcessing;
}

bool SectionsTile(const uint8_t* data, uint64_t size) {
  uint64_t at = 0;
  while (at < size) {
    uint64_t length = 0;
    uint32_t header = 0;
    if (!image_layout::ReadSectionHeader(data + at, size - at, &length, &header)) return false;
    if (length < header || length > size - at) return false;
    at += length;
    if (at < size) at = (at + 3) & ~uint64_t(3);
  }
  return at == size;
}

namespace {

enum class Decoded { Yes, No, OverBudget };

// One decoder run charged to the budget: what the header states and the
// decoder's working memory are reserved before it runs (leaving `reserve`
// for the tree's records), and all but what it produced is given back.
template <typename Decode>
Decoded ChargedDecode(TreeBudget& budget, uint64_t reserve, uint64_t stated, uint64_t working, const char* what,
                      std::vector<uint8_t>* out, std::string* problem, Decode decode) {
  // The first test keeps the sum below from overflowing.
  if (stated > budget.remaining() || !budget.TakeLeaving(stated + working, reserve)) {
    *problem = std::string(what) + ": decompression limit of the dump reached";
    return Decoded::OverBudget;
  }
  const bool ok = decode(stated);
  budget.Give(stated + working - std::min<uint64_t>(out->size(), stated));
  if (ok) return Decoded::Yes;
  std::vector<uint8_t>().swap(*out);
  return Decoded::No;
}

}  // namespace

bool DecodeStandard(const uint8_t* data, uint64_t size, TreeBudget& budget, uint64_t reserve, std::vector<uint8_t>* out,
                    std::string* problem) {
  uint32_t original = 0;
  if (!StandardOriginalSize(data, size, &original)) {
    *problem = "standard compression: header cut short";
    return false;
  }
  // Nothing to decode, or a stream where nothing should be: no variant
  // tells them apart.
  if (original == 0) return StandardDecompress(data, size, StandardVariant::Efi11, 0, out, problem);
  const auto attempt = [&](StandardVariant variant) {
    std::string ignored;
    return ChargedDecode(budget, reserve, original, 0, "standard compression", out, problem,
                         [&](uint64_t limit) { return StandardDecompress(data, size, variant, limit, out, &ignored); });
  };
  // EFI 1.1 first; Tiano only when that fails or gives no section list.
  // One output at a time: when only EFI 1.1 decoded, it is decoded again.
  const Decoded efi = attempt(StandardVariant::Efi11);
  if (efi == Decoded::OverBudget) return false;
  if (efi == Decoded::Yes && SectionsTile(out->data(), out->size())) return true;
  std::vector<uint8_t>().swap(*out);
  const Decoded tiano = attempt(StandardVariant::Tiano);
  if (tiano == Decoded::Yes && (efi == Decoded::No || SectionsTile(out->data(), out->size()))) return true;
  std::vector<uint8_t>().swap(*out);
  if (tiano == Decoded::OverBudget) return false;
  if (efi == Decoded::Yes) return attempt(StandardVariant::Efi11) == Decoded::Yes;
  *problem = "standard compression: neither the EFI 1.1 nor the Tiano variant decodes";
  return false;
}
bool DecodeGuided(GuidedKind kind, const uint8_t* data, uint64_t size, TreeBudget& budget, uint64_t reserve,
                  std::vector<uint8_t>* out, std::string* problem) {
  uint64_t stated = 0;
  if (!StatedSize(kind, data, size, &stated)) {
    *problem = "compressed section: header cut short";
    return false;
  }
  const bool brotli = kind == GuidedKind::Brotli;
  const uint64_t working = brotli ? std::min(stated, kLargestBrotliWindow) : LzmaDictionarySize(data, size);
  return ChargedDecode(budget, reserve, stated, working, "compressed section", out, problem, [&](uint64_t limit) {
           if (brotli) return BrotliDecompress(data, size, limit, out, problem);
           return LzmaDecompress(data, size, kind == GuidedKind::LzmaX86, limit, out, problem);
         }) == Decoded::Yes;
}

}  // namespace fwtree
