#include "fwtree/encapsulation.h"

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

bool DecodeStandard(const uint8_t* data, uint64_t size, DecodeBudget& budget, std::vector<uint8_t>* out,
                    std::string* problem) {
  uint32_t original = 0;
  if (!StandardOriginalSize(data, size, &original)) {
    *problem = "standard compression: header cut short";
    return false;
  }
  if (!budget.Take(original)) {
    *problem = "standard compression: decompression limit of the dump reached";
    return false;
  }
  std::vector<uint8_t> efi;
  std::vector<uint8_t> tiano;
  std::string efiProblem;
  const bool efiOk = StandardDecompress(data, size, StandardVariant::Efi11, original, &efi, &efiProblem);
  if (efiOk && SectionsTile(efi.data(), efi.size())) {
    *out = std::move(efi);
    return true;
  }
  const bool tianoOk = StandardDecompress(data, size, StandardVariant::Tiano, original, &tiano, problem);
  if (tianoOk && (SectionsTile(tiano.data(), tiano.size()) || !efiOk)) {
    *out = std::move(tiano);
    return true;
  }
  if (efiOk) {
    *out = std::move(efi);
    return true;
  }
  *problem = "standard compression: neither the EFI 1.1 nor the Tiano variant decodes";
  return false;
}

bool DecodeGuided(GuidedKind kind, const uint8_t* data, uint64_t size, DecodeBudget& budget, std::vector<uint8_t>* out,
                  std::string* problem) {
  uint64_t stated = 0;
  if (!StatedSize(kind, data, size, &stated)) {
    *problem = "compressed section: header cut short";
    return false;
  }
  if (!budget.Take(stated)) {
    *problem = "compressed section: decompression limit of the dump reached";
    return false;
  }
  switch (kind) {
    case GuidedKind::Lzma: return LzmaDecompress(data, size, false, stated, out, problem);
    case GuidedKind::LzmaX86: return LzmaDecompress(data, size, true, stated, out, problem);
    case GuidedKind::Brotli: return BrotliDecompress(data, size, stated, out, problem);
    default: break;
  }
  *problem = "GUID-defined section: no decoder";
  return false;
}

}  // namespace fwtree
