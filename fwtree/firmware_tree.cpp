// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/firmware_tree.h"

#include <cstdio>
#include <algorithm>

#include "fwtree/encapsulation.h"
#include "fwtree/utf16_text.h"
#include "image/layout.h"
#include "image/volume_walker.h"

namespace fwtree {

namespace {

using image_layout::Load16;
using image_layout::Load24;
using image_layout::Load32;
using image_layout::Load64;

constexpr uint64_t kVolumeHeaderMinimum = image_layout::kFvFixedHeaderSize;
constexpr uint32_t kVolumeRevisionOffset = 55;
constexpr uint32_t kVolumeAttributesOffset = 44;
constexpr uint32_t kErasePolarityOne = 0x800;
constexpr uint64_t kFileHeader = image_layout::kFileHeaderSize;
constexpr uint64_t kLargeFileHeader = 32;
constexpr uint8_t kLargeFileAttribute = 0x01;
constexpr uint8_t kTypeRaw = 0x01;
constexpr uint8_t kTypePad = 0xF0;
constexpr uint8_t kSectionCompression = 0x01;
constexpr uint8_t kSectionGuidDefined = 0x02;
using image_layout::kSectionUserInterface;
constexpr uint8_t kSectionVolumeImage = 0x17;
constexpr uint8_t kSectionVersion = 0x14;
constexpr uint8_t kSectionPe32 = 0x10;
constexpr uint8_t kSectionTe = 0x12;  // a 16-bit build number, then UTF-16 text
constexpr uint8_t kNotCompressed = 0;
constexpr uint8_t kStandardCompression = 1;

uint64_t Align(uint64_t value, uint64_t to) { return (value + to - 1) & ~(to - 1); }

// Bytes being walked: where they lie in the image when they are the image's
// own, and whether a decoder produced them.
struct Span {
  const uint8_t* data;
  uint64_t size;
  std::optional<uint64_t> offset;
  bool compressed;

  Span Sub(uint64_t at, uint64_t length) const {
    return Span{data + at, length, offset ? std::optional<uint64_t>(*offset + at) : std::nullopt, compressed};
  }
};

std::string HexOffset(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool Erased(const uint8_t* data, uint64_t size, bool erasedIsOne) {
  const uint8_t erased = erasedIsOne ? 0xFF : 0x00;
  for (uint64_t i = 0; i < size; ++i)
    if (data[i] != erased) return false;
  return true;
}

// What the tree's records cost the budget. The lists grow by doubling, so
// a record is charged twice its size; a text its bytes and its header.
constexpr uint64_t kFileCost = 2 * sizeof(TreeFile);
constexpr uint64_t kVolumeCost = 2 * sizeof(TreeVolume) + 64;  // and the path list's own allocation
uint64_t TextCost(const std::string& text) { return 2 * sizeof(std::string) + text.size(); }

class TreeBuilder {
 public:
  TreeBuilder(FirmwareTree& tree, const TreeLimits& limits)
      : tree_(tree), limits_(limits), budget_(limits.budget), recordReserve_(limits.budget / 8) {}

  void WalkImage(const uint8_t* image, uint64_t size) {
    const Span whole{image, size, uint64_t(0), false};
    for (uint64_t at = 0; at + kVolumeHeaderMinimum <= size && !stopped_;) {
      const uint64_t length = VolumeLengthAt(whole, at);
      if (length == 0) {
        at += 8;
        continue;
      }
      WalkVolume(whole.Sub(at, length), -1, {}, 0);
      at = Align(at + length, 8);
    }
    for (const std::vector<uint8_t>& bytes : tree_.decoded) tree_.decodedBytes += bytes.size();
    NumberFiles();
  }

 private:
  // The length of a plausible volume header at `at`, clipped to the span;
  // 0 when there is none.
  static uint64_t VolumeLengthAt(const Span& span, uint64_t at) {
    const uint8_t* v = span.data + at;
    if (span.size - at < kVolumeHeaderMinimum ||
        Load32(v + image_layout::kFvSignature) != image_layout::kFvSignatureValue)
      return 0;
    const uint64_t declared = Load64(v + image_layout::kFvLength);
    const uint16_t header = Load16(v + image_layout::kFvHeaderLength);
    if (header < kVolumeHeaderMinimum || declared < header || v[kVolumeRevisionOffset] == 0) return 0;
    return declared < span.size - at ? declared : span.size - at;
  }

  // Ends the walk for good, with one problem saying why.
  void Stop(std::string why) {
    if (stopped_) return;
    stopped_ = true;
    tree_.problems.push_back(std::move(why) + ": the rest of the dump is not walked");
  }

  bool Charge(uint64_t bytes) {
    if (budget_.Take(bytes)) return true;
    Stop("the limit of " + std::to_string(limits_.budget >> 20) +
         " MiB for the dump's decompressed bytes and records is reached");
    return false;
  }

  // Nothing is added once the walk has stopped: what follows is not walked.
  void Problem(std::string text) {
    if (!stopped_ && Charge(TextCost(text))) tree_.problems.push_back(std::move(text));
  }

  void FileProblem(int file, std::string text) {
    if (!stopped_ && Charge(TextCost(text))) tree_.files[size_t(file)].problems.push_back(std::move(text));
  }

  // A volume's damage: the file whose section holds it has the problem, or
  // the tree for a volume of the image itself.
  void VolumeProblem(const Span& span, int parentFile, const std::string& text) {
    if (parentFile >= 0) return FileProblem(parentFile, "volume image section: " + text);
    Problem("volume at " + HexOffset(span.offset.value_or(0)) + ": " + text);
  }

  void WalkVolume(const Span& span, int parentFile, const std::vector<Guid>& enclosing, int depth) {
    if (stopped_) return;
    if (depth > limits_.maxDepth) {
      Problem("volumes nested deeper than " + std::to_string(limits_.maxDepth) + " levels: not opened");
      return;
    }
    FirmwareVolume header;
    if (!ReadFirmwareVolume(span.data, span.size, 0, &header))
      return VolumeProblem(span, parentFile, "no volume header");
    if (header.HeaderLength > header.Length)
      return VolumeProblem(span, parentFile, "header longer than what holds the volume; not walked");
    if (header.DeclaredLength > header.Length) {
      VolumeProblem(span, parentFile,
                    std::to_string(header.DeclaredLength) + " bytes long by its header, cut to " +
                        std::to_string(header.Length) + " by the end of what holds it");
    }
    if (tree_.volumes.size() >= limits_.maxVolumes)
      return Stop("more than " + std::to_string(limits_.maxVolumes) + " volumes");
    if (!Charge(kVolumeCost + 16 * (enclosing.size() + 1))) return;
    TreeVolume volume;
    volume.fileSystem = GuidAt(header.FileSystem);
    if (header.HasName) volume.name = GuidAt(header.Name);
    std::vector<Guid> path = enclosing;
    path.push_back(volume.name ? *volume.name : volume.fileSystem);
    volume.path = GuidPath(std::move(path));
    volume.offset = span.offset;
    volume.length = header.Length;
    volume.parentFile = parentFile;
    volume.compressed = span.compressed;
    if (volume.fileSystem == kFileSystem2 || volume.fileSystem == kFileSystem1) volume.ffsVersion = 2;
    if (volume.fileSystem == kFileSystem3) volume.ffsVersion = 3;
    const int index = int(tree_.volumes.size());
    tree_.volumes.push_back(volume);
    if (volume.ffsVersion == 0) return;

    const bool erasedIsOne = (Load32(span.data + kVolumeAttributesOffset) & kErasePolarityOne) != 0;
    uint64_t at = header.HeaderLength;
    const uint16_t extOffset = Load16(span.data + image_layout::kFvExtHeaderOffset);
    if (extOffset != 0 && !header.HasName) VolumeProblem(span, parentFile, "extended header outside the volume");
    if (header.HasName) at = uint64_t(extOffset) + Load32(span.data + extOffset + image_layout::kFvExtHeaderSize);
    at = Align(at, 8);
    const Span files = span.Sub(0, header.Length);
    if (at > files.size) VolumeProblem(span, parentFile, "extended header runs past the volume; files not walked");
    while (at < files.size && files.size - at >= kFileHeader && !stopped_) {
      const uint64_t next = WalkFile(files, at, index, parentFile, volume.path, volume.ffsVersion, erasedIsOne, depth);
      if (next == 0) {
        // Free space runs to the volume's end: a header written after it
        // (a large file's at the very end too) is not walked, but said.
        if (Erased(files.data + at, kFileHeader, erasedIsOne)) {
          const uint8_t erased = erasedIsOne ? 0xFF : 0x00;
          uint64_t written = at + kFileHeader;
          while (written < files.size && files.data[written] == erased) ++written;
          if (written < files.size)
            VolumeProblem(span, parentFile,
                          "bytes not erased in its free space (from " + HexOffset(at) + "), first at " +
                              HexOffset(written) + "; not walked as files");
        }
        return;
      }
      at = Align(next, 8);
    }
    if (!stopped_ && at < files.size && !Erased(files.data + at, files.size - at, erasedIsOne))
      VolumeProblem(span, parentFile, "a file header cut by the end of the volume");
  }

  // Adds the file at `at` and its contents; returns the offset after it, or
  // 0 when the volume's files end there.
  uint64_t WalkFile(const Span& volume, uint64_t at, int volumeIndex, int parentFile, const GuidPath& path,
                    int ffsVersion, bool erasedIsOne, int depth) {
    const uint8_t* f = volume.data + at;
    if (Erased(f, kFileHeader, erasedIsOne)) return 0;
    const uint8_t attributes = f[image_layout::kFileAttributes];
    uint64_t size = Load24(f + image_layout::kFileSize);
    uint64_t header = kFileHeader;
    if (ffsVersion == 3 && (attributes & kLargeFileAttribute)) {
      if (volume.size - at < kLargeFileHeader) {
        Problem("file " + GuidText(GuidAt(f)) + ": large-file header cut by the end of the volume");
        return 0;
      }
      size = Load64(f + kFileHeader);
      header = kLargeFileHeader;
    }
    if (size < header || size > volume.size - at) {
      Problem("file " + GuidText(GuidAt(f)) + ": its size leaves the volume; the volume's files end there");
      return 0;
    }
    const uint8_t type = f[18];
    if (type == kTypePad) return at + size;
    if (tree_.files.size() >= limits_.maxFiles) {
      Stop("more than " + std::to_string(limits_.maxFiles) + " files");
      return 0;
    }
    if (!Charge(kFileCost)) return 0;

    TreeFile file;
    file.guid = GuidAt(f);
    file.type = type;
    file.attributes = attributes;
    file.path = path;
    file.volume = volumeIndex;
    file.parentFile = parentFile;
    file.bytes = f;
    file.size = size;
    file.offset = volume.offset ? std::optional<uint64_t>(*volume.offset + at) : std::nullopt;
    file.compressed = volume.compressed;
    const int index = int(tree_.files.size());
    tree_.files.push_back(std::move(file));
    if (type != kTypeRaw) {
      std::vector<Guid> inner = path;
      inner.push_back(GuidAt(f));
      WalkSections(volume.Sub(at + header, size - header), index, inner, depth);
    }
    return at + size;
  }

  // The sections of file `file`; `path` ends with the file's own GUID.
  void WalkSections(const Span& span, int file, const std::vector<Guid>& path, int depth) {
    if (depth > limits_.maxDepth)
      return FileProblem(file,
                         "sections nested deeper than " + std::to_string(limits_.maxDepth) + " levels: not opened");
    uint64_t at = 0;
    while (at < span.size && !stopped_) {
      const uint8_t* s = span.data + at;
      const uint64_t left = span.size - at;
      uint64_t length = 0;
      uint32_t header = 0;
      // Erased or zero bytes after the last section are padding, not damage.
      if (Erased(s, left, true) || Erased(s, left, false)) return;
      if (!image_layout::ReadSectionHeader(s, left, &length, &header))
        return FileProblem(file, "section header cut short by the end of what holds it");
      if (length < header || length > left) return FileProblem(file, "section header damaged; later sections not read");
      WalkSection(span.Sub(at, length), header, s[3], file, path, depth);
      at = Align(at + length, 4);
    }
  }

  void WalkSection(const Span& section, uint64_t header, uint8_t type, int file, const std::vector<Guid>& path,
                   int depth) {
    const Span body = section.Sub(header, section.size - header);
    switch (type) {
      case kSectionUserInterface: return NameFile(file, body, &TreeFile::name, 0);
      case kSectionVersion: return NameFile(file, body, &TreeFile::version, 2);
      case kSectionVolumeImage: WalkVolume(body, file, path, depth + 1); return;
      case kSectionCompression: return WalkCompression(body, file, path, depth);
      case kSectionGuidDefined: return WalkGuided(section, header, file, path, depth);
      case kSectionPe32:
      case kSectionTe: return NoteImage(file, body, type == kSectionTe);
      default: return;
    }
  }

  void NoteImage(int file, const Span& body, bool te) {
    TreeFile& record = tree_.files[size_t(file)];
    if (record.image != nullptr) return;
    record.image = body.data;
    record.imageSize = body.size;
    record.imageIsTe = te;
  }

  // The file's name, or its version text after `skip` bytes (a version
  // section with no text gives none), from its first section of that kind.
  void NameFile(int file, const Span& body, std::optional<std::string> TreeFile::*text, uint64_t skip) {
    if (tree_.files[size_t(file)].*text || (skip > 0 && body.size <= skip)) return;
    std::string utf8 = Utf8FromUtf16(body.data + skip, body.size - skip);
    if (Charge(TextCost(utf8))) tree_.files[size_t(file)].*text = std::move(utf8);
  }

  void WalkCompression(const Span& body, int file, const std::vector<Guid>& path, int depth) {
    if (body.size < 5) return FileProblem(file, "compression section cut short");
    const uint8_t kind = body.data[4];
    const Span stream = body.Sub(5, body.size - 5);
    if (kind == kNotCompressed) return WalkSections(stream, file, path, depth + 1);
    if (kind != kStandardCompression)
      return FileProblem(file, "compression section of unknown type " + std::to_string(kind));
    std::vector<uint8_t> out;
    std::string problem;
    if (!DecodeStandard(stream.data, stream.size, budget_, recordReserve_, &out, &problem))
      return FileProblem(file, problem);
    WalkDecoded(std::move(out), file, path, depth);
  }

  void WalkGuided(const Span& section, uint64_t header, int file, const std::vector<Guid>& path, int depth) {
    if (section.size < header + 20) return FileProblem(file, "GUID-defined section cut short");
    const Guid guid = GuidAt(section.data + header);
    const uint16_t dataOffset = Load16(section.data + header + 16);
    const uint16_t attributes = Load16(section.data + header + 18);
    if (dataOffset < header + 20 || dataOffset > section.size)
      return FileProblem(file, "GUID-defined section " + GuidText(guid) + ": data offset outside the section");
    const Span data = section.Sub(dataOffset, section.size - dataOffset);
    const GuidedKind kind = ClassifyGuided(guid, attributes);
    if (kind == GuidedKind::Crc32 || kind == GuidedKind::NoProcessing) return WalkSections(data, file, path, depth + 1);
    if (kind == GuidedKind::Unknown)
      return FileProblem(file, "GUID-defined section " + GuidText(guid) + ": no decoder for it");
    std::vector<uint8_t> out;
    std::string problem;
    if (!DecodeGuided(kind, data.data, data.size, budget_, recordReserve_, &out, &problem))
      return FileProblem(file, problem);
    WalkDecoded(std::move(out), file, path, depth);
  }

  void WalkDecoded(std::vector<uint8_t> bytes, int file, const std::vector<Guid>& path, int depth) {
    if (depth + 1 > limits_.maxDepth) {
      return FileProblem(
          file, "encapsulations nested deeper than " + std::to_string(limits_.maxDepth) + " levels: not opened");
    }
    tree_.decoded.push_back(std::move(bytes));
    const std::vector<uint8_t>& kept = tree_.decoded.back();
    WalkSections(Span{kept.data(), kept.size(), std::nullopt, true}, file, path, depth + 1);
  }

  // Index: the files of one path and GUID counted in order. A stable sort
  // by path and GUID keeps each group in walk order.
  void NumberFiles() {
    std::vector<uint32_t> order(tree_.files.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto before = [this](uint32_t a, uint32_t b) {
      const TreeFile& x = tree_.files[a];
      const TreeFile& y = tree_.files[b];
      if (!x.path.SameList(y.path)) {
        const auto byPath = x.path <=> y.path;
        if (byPath != 0) return byPath < 0;
      }
      return x.guid < y.guid;
    };
    std::stable_sort(order.begin(), order.end(), before);
    for (size_t i = 0; i < order.size(); ++i) {
      const bool sameGroup = i > 0 && !before(order[i - 1], order[i]);
      tree_.files[order[i]].index = sameGroup ? tree_.files[order[i - 1]].index + 1 : 0;
    }
  }

  FirmwareTree& tree_;
  TreeLimits limits_;
  TreeBudget budget_;
  uint64_t recordReserve_;  // of the budget, kept from the decoders for the records
  bool stopped_ = false;
};

}  // namespace

FirmwareTree BuildFirmwareTree(const uint8_t* image, uint64_t size, const TreeLimits& limits) {
  FirmwareTree tree;
  TreeBuilder(tree, limits).WalkImage(image, size);
  return tree;
}

std::string FileTypeName(uint8_t type) {
  static const char* const kNames[] = {nullptr,
                                       "RAW",
                                       "FREEFORM",
                                       "SECURITY_CORE",
                                       "PEI_CORE",
                                       "DXE_CORE",
                                       "PEIM",
                                       "DRIVER",
                                       "COMBINED_PEIM_DRIVER",
                                       "APPLICATION",
                                       "MM",
                                       "FIRMWARE_VOLUME_IMAGE",
                                       "COMBINED_MM_DXE",
                                       "MM_CORE",
                                       "MM_STANDALONE",
                                       "MM_CORE_STANDALONE"};
  if (type >= 1 && type <= 0x0F) return kNames[type];
  if (type == kTypePad) return "PAD";
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", type);
  return text;
}

}  // namespace fwtree
