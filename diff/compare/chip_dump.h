// SPDX-License-Identifier: BSD-2-Clause-Patent
// One saved chip as the comparison test would see it: the file, its
// descriptor and checksum verdict, and its BIOS region read into the same
// record and masked the same way as on the board.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diff/compare/dump_file.h"
#include "diff/compare/image_map.h"
#include "fwtree/file_index.h"
#include "fwtree/firmware_tree.h"
#include "fwtree/flash_descriptor.h"
#include "image/bios_info.h"
#include "image/masking.h"

namespace pdiff {

struct MaskedArea {
  MaskKind kind;
  uint64_t begin;  // offset in the BIOS region
  uint64_t length;
  bool hasFile;
  uint8_t file[16];  // area-table file name
};

const char* MaskKindName(MaskKind kind);

class ChipDump {
 public:
  ChipDump() = default;
  // The records point into the buffer: a copy would point into the original.
  ChipDump(const ChipDump&) = delete;
  ChipDump& operator=(const ChipDump&) = delete;

  // False with `problem` set when the file cannot be read or is larger
  // than `largest` bytes (refused before it is mapped). Finds the
  // descriptors; the firmware tree is walked when first asked for.
  bool Load(const std::string& path, std::string* problem, uint64_t largest = kLargestDump);

  // Takes the `regionSize` bytes that end at file offset `regionEnd` as the
  // BIOS region (erased bytes in front when the file holds fewer), maps
  // them, fills the record and masks. Again at the same place it does
  // nothing; a dump is prepared at one place only.
  void PrepareRegion(uint64_t regionSize, uint64_t regionEnd);

  // Puts the bytes the masks replaced back (true) or the masks again
  // (false): the firmware tree's files point into the one buffer, and are
  // compared as they were saved.
  void ShowUnmasked(bool unmasked);

  const std::string& path() const { return path_; }
  uint64_t fileSize() const { return fileSize_; }
  // The descriptor found over the whole file, as the save command finds it.
  const BiosInfo& fileRecord() const { return fileRecord_; }
  bool hasDescriptor() const { return fileRecord_.Found != 0; }
  // The file is a whole part: FlashSize bytes with the BIOS region on top,
  // or, without an identity descriptor, a part whose Intel flash
  // descriptor puts the BIOS region above other regions (cut short or not).
  bool isWholePart() const;
  // Where the Intel flash descriptor's highest region ends: the part's
  // length as the dump itself states it (0 without that descriptor).
  uint64_t statedPartSize() const { return statedPartSize_; }
  // Shorter than its own descriptor states: the read stopped early, and
  // the part's bytes from fileSize() to statedPartSize() are missing.
  bool cutShort() const { return fileSize_ < statedPartSize_; }
  // How many times the file holds the part its descriptor states, end to
  // end (2 for a part read twice); 1 for any other file.
  uint64_t partCopies() const { return partCopies_; }
  // The file's bytes that hold firmware: one copy of a part read more than
  // once, else the whole file.
  uint64_t firmwareSize() const { return partCopies_ > 1 ? statedPartSize_ : fileSize_; }
  // Something firmware-like: a descriptor of either kind, or a firmware
  // volume header. Cheap: the tree is not walked.
  bool looksLikeFirmware() const;
  // The Intel flash descriptor at the bottom of the file, if any.
  const std::optional<fwtree::FlashDescriptor>& flashDescriptor() const { return flashDescriptor_; }
  // Every volume and file of the file, at any depth; offsets are file
  // offsets. Walked on first use.
  const fwtree::FirmwareTree& tree() const;
  // The innermost file of the tree at a file offset.
  const fwtree::TreeFile* FileAt(uint64_t fileOffset) const;
  // The save command's "BIOS checksum" rule; empty without a descriptor.
  std::optional<bool> checksumsHold() const { return checksumsHold_; }
  // Offset in the file of the descriptor found over the whole file.
  uint64_t descriptorFileOffset() const { return uint64_t(fileRecord_.Descriptor - fileRecord_.Image); }

  uint64_t regionSize() const { return regionSize_; }
  const uint8_t* region() const { return bytes_.data() + front_ + regionEnd_ - regionSize_; }
  // The region's bytes the file holds, from the region's start: fewer than
  // regionSize() in a dump cut short (the rest reads as erased).
  uint64_t regionHeld() const {
    const uint64_t missing = regionEnd_ > fileSize_ ? regionEnd_ - fileSize_ : 0;
    return missing < regionSize_ ? regionSize_ - missing : 0;
  }
  // File offset of the region's first byte (0 when erased bytes were put in
  // front of the file).
  uint64_t regionFileOffset() const { return regionEnd_ >= regionSize_ ? regionEnd_ - regionSize_ : 0; }
  // The bytes below the BIOS region of a whole part (not changed by masking).
  const uint8_t* file() const { return bytes_.data() + front_; }
  // SHA-256 of the file as it was saved (masks lifted), in lowercase hex.
  const std::string& sha256() const;
  const BiosInfo& record() const { return record_; }
  const ImageMap& map() const { return map_; }
  const std::vector<MaskedArea>& masked() const { return masked_; }

  // Region bytes [begin, end) as they were before masking.
  std::vector<uint8_t> RawRegion(uint64_t begin, uint64_t end) const;

 private:
  static void NoteMask(void* context, const MaskNote& note);
  void WalkTree();

  struct SavedBytes {
    uint64_t begin;
    std::vector<uint8_t> bytes;
  };

  std::string path_;
  DumpBuffer bytes_;  // the one copy of the file; the masks write into it
  // Walked from bytes_ before any mask; its files point into bytes_.
  mutable std::optional<fwtree::FirmwareTree> tree_;
  mutable fwtree::InnermostFileIndex fileIndex_;
  mutable std::optional<std::string> sha256_;
  std::optional<fwtree::FlashDescriptor> flashDescriptor_;
  uint64_t fileSize_ = 0;
  BiosInfo fileRecord_{};
  std::optional<bool> checksumsHold_;
  uint64_t regionSize_ = 0;
  uint64_t regionEnd_ = 0;  // file offset where the region ends (past the file's end in one cut short)
  uint64_t front_ = 0;      // erased bytes put in front of the file
  uint64_t statedPartSize_ = 0;
  uint64_t partCopies_ = 1;
  BiosInfo record_{};
  ImageMap map_;
  std::vector<MaskedArea> masked_;
  std::vector<SavedBytes> saved_;  // in the order the masks wrote
  std::vector<SavedBytes> masks_;  // what the masks left there, while unmasked
  bool unmasked_ = false;
  bool prepared_ = false;
};

}  // namespace pdiff
