// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/golden_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "diff/compare/comparison.h"
#include "diff/compare/dump_file.h"
#include "diff/compare/escaped_text.h"
#include "fwtree/guid.h"
#include "image/layout.h"

namespace fleet {
namespace {

constexpr uint32_t kCapsuleHeaderSize = 28;  // GUID, HeaderSize, Flags, CapsuleImageSize
constexpr uint32_t kFmpHeaderSize = 8;       // Version, EmbeddedDriverCount, PayloadItemCount
constexpr uint16_t kWinCertificateGuid = 0x0EF1;
constexpr uint16_t kWinCertificateRevision = 0x0200;

using image_layout::Load16;
using image_layout::Load32;
using image_layout::Load64;

bool GuidIs(const uint8_t* bytes, const fwtree::Guid& guid) { return fwtree::GuidAt(bytes) == guid; }

constexpr fwtree::Guid kFmpCapsuleGuid = fwtree::GuidFromText("6DCBD5ED-E82D-4C44-BDA1-7194199AD92A");
constexpr fwtree::Guid kUxCapsuleGuid = fwtree::GuidFromText("3B8C8162-188C-46A4-AEC9-BE43F1D65697");

// The image of an FMP capsule's single payload, after its authentication
// header when it carries one.
std::optional<CapsulePayload> FmpPayload(const uint8_t* bytes, uint64_t size, uint64_t start, std::string* problem) {
  if (size - start < kFmpHeaderSize) {
    *problem = "an FMP capsule cut short in its header";
    return std::nullopt;
  }
  const uint8_t* fmp = bytes + start;
  const uint16_t drivers = Load16(fmp + 4);
  const uint16_t payloads = Load16(fmp + 6);
  if (Load32(fmp) != 1) {
    *problem = "an FMP capsule of unknown version " + std::to_string(Load32(fmp));
    return std::nullopt;
  }
  if (payloads != 1) {
    *problem = "an FMP capsule carrying " + std::to_string(payloads) + " images; one is needed";
    return std::nullopt;
  }
  const uint64_t listEnd = start + kFmpHeaderSize + 8ull * (drivers + payloads);
  if (listEnd > size) {
    *problem = "an FMP capsule cut short in its item list";
    return std::nullopt;
  }
  const uint64_t item = start + Load64(fmp + kFmpHeaderSize + 8ull * drivers);
  if (item < listEnd || item > size || size - item < 32) {
    *problem = "an FMP capsule whose image header lies outside the file";
    return std::nullopt;
  }
  const uint32_t version = Load32(bytes + item);
  if (version < 1 || version > 3) {
    *problem = "an FMP image header of unknown version " + std::to_string(version);
    return std::nullopt;
  }
  const uint64_t headerSize = version == 1 ? 32 : version == 2 ? 40 : 48;
  uint64_t image = item + headerSize;
  uint64_t length = Load32(bytes + item + 24);
  if (image > size || length > size - image) {
    *problem = "an FMP capsule whose image of " + std::to_string(length) + " bytes runs past the file's end";
    return std::nullopt;
  }
  // EFI_FIRMWARE_IMAGE_AUTHENTICATION: a monotonic count and a GUID-typed
  // certificate in front of the image.
  if (length >= 24 && Load16(bytes + image + 12) == kWinCertificateRevision &&
      Load16(bytes + image + 14) == kWinCertificateGuid) {
    const uint64_t skip = 8 + uint64_t(Load32(bytes + image + 8));
    if (skip > length) {
      *problem = "an FMP capsule whose signature runs past its image";
      return std::nullopt;
    }
    image += skip;
    length -= skip;
  }
  if (length == 0) {
    *problem = "an FMP capsule carrying an empty image";
    return std::nullopt;
  }
  return CapsulePayload{image, length, "FMP capsule"};
}

}  // namespace

std::optional<CapsulePayload> FindCapsulePayload(const uint8_t* bytes, uint64_t size, std::string* problem) {
  problem->clear();
  if (size < kCapsuleHeaderSize) return std::nullopt;
  const uint32_t headerSize = Load32(bytes + 16);
  const uint32_t imageSize = Load32(bytes + 24);
  // The header's sizes must describe this file: a chip's first bytes (erased
  // flash, a flash descriptor, a volume) never do.
  if (headerSize < kCapsuleHeaderSize || imageSize > size || headerSize >= imageSize) return std::nullopt;
  if (GuidIs(bytes, kUxCapsuleGuid)) {
    *problem = "a UEFI capsule carrying a boot screen image, not firmware";
    return std::nullopt;
  }
  if (GuidIs(bytes, kFmpCapsuleGuid)) return FmpPayload(bytes, imageSize, headerSize, problem);
  return CapsulePayload{headerSize, imageSize - headerSize, "UEFI capsule"};
}

namespace {

// The image written to an anonymous file, so that it is loaded as a dump is.
bool LoadBytes(const uint8_t* bytes, uint64_t size, pdiff::ChipDump& dump, std::string* problem) {
  const int fd = memfd_create("golden", MFD_CLOEXEC);
  if (fd < 0) {
    *problem = std::string("no memory file for the unwrapped image: ") + std::strerror(errno);
    return false;
  }
  uint64_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, bytes + written, size - written);
    if (n <= 0) {
      close(fd);
      *problem = "the unwrapped image could not be written to memory";
      return false;
    }
    written += uint64_t(n);
  }
  const bool loaded = dump.Load("/proc/self/fd/" + std::to_string(fd), problem);
  close(fd);
  return loaded;
}

bool LooksLikeFirmware(const pdiff::ChipDump& dump) {
  return dump.hasDescriptor() || dump.flashDescriptor().has_value() || !dump.tree().volumes.empty();
}

}  // namespace

bool LoadGolden(const std::string& path, const pdiff::CompareOptions& options, Golden* golden, std::string* problem) {
  golden->name = pdiff::EscapedText(path);
  pdiff::DumpBuffer file;
  if (!file.Read(path, pdiff::kLargestDump, problem)) {
    *problem = "golden " + golden->name + ": " + *problem;
    return false;
  }
  std::string capsuleProblem;
  const std::optional<CapsulePayload> payload = FindCapsulePayload(file.data(), file.size(), &capsuleProblem);
  if (!capsuleProblem.empty()) {
    *problem = "golden " + golden->name + ": " + capsuleProblem;
    return false;
  }
  bool loaded = false;
  if (payload) {
    golden->wrapping = payload->wrapping;
    loaded = LoadBytes(file.data() + payload->offset, payload->length, golden->dump, problem);
  } else {
    loaded = golden->dump.Load(path, problem);
  }
  if (!loaded) {
    *problem = "golden " + golden->name + ": " + *problem;
    return false;
  }
  if (!LooksLikeFirmware(golden->dump)) {
    *problem =
        "golden " + golden->name + (payload ? ": the image in its " + golden->wrapping : std::string()) +
        " is neither a chip dump nor a BIOS region (no descriptor, no firmware volume) nor a UEFI or FMP capsule";
    return false;
  }
  const std::string trouble = pdiff::GeometryTrouble(golden->dump, options);
  if (!trouble.empty()) {
    *problem = "golden " + golden->name + ": " + trouble;
    return false;
  }
  golden->sha256 = golden->dump.sha256();
  const pdiff::Geometry geometry = pdiff::BoardGeometry(golden->dump, options);
  golden->regionSize = geometry.biosSize;
  if (geometry.biosSize > golden->dump.fileSize()) {
    *problem = "golden " + golden->name + ": its BIOS region of " + std::to_string(geometry.biosSize) +
               " bytes is longer than the image";
    return false;
  }
  golden->dump.PrepareRegion(geometry.biosSize, pdiff::RegionEnd(geometry, golden->dump));
  golden->dump.tree();
  return true;
}

}  // namespace fleet
