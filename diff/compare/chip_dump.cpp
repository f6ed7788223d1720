// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/chip_dump.h"

#include <algorithm>
#include <cstring>

#include "diff/compare/file_digest.h"
#include "image/checksums.h"
#include "image/descriptor_locator.h"

namespace pdiff {

namespace {

// How many times `size` bytes hold their first `part` bytes end to end.
uint64_t CopiesOfPart(const uint8_t* bytes, uint64_t size, uint64_t part) {
  if (part == 0 || size <= part || size % part != 0) return 1;
  for (uint64_t at = part; at < size; at += part)
    if (std::memcmp(bytes, bytes + at, part) != 0) return 1;
  return size / part;
}

}  // namespace

const char* MaskKindName(MaskKind kind) {
  switch (kind) {
    case MaskKind::VariableStore: return "variable store";
    case MaskKind::ChipArea: return "chip area";
    case MaskKind::AreaFileChecksum: return "area file checksum";
    case MaskKind::AreaFile: return "area file";
  }
  return "?";
}

bool ChipDump::Load(const std::string& path, std::string* problem, uint64_t largest) {
  path_ = path;
  if (!bytes_.Read(path, largest, problem)) return false;
  fileSize_ = bytes_.size();
  flashDescriptor_ = fwtree::ReadFlashDescriptor(bytes_.data(), bytes_.size());
  if (flashDescriptor_) {
    for (const fwtree::FlashRegion& region : flashDescriptor_->regions)
      statedPartSize_ = std::max(statedPartSize_, region.base + region.length);
    partCopies_ = CopiesOfPart(bytes_.data(), fileSize_, statedPartSize_);
  }
  std::memset(&fileRecord_, 0, sizeof fileRecord_);
  fileRecord_.Image = bytes_.data();
  fileRecord_.ImageSize = bytes_.size();
  LocateDescriptor(&fileRecord_);
  // The checksum table addresses the 4 GiB window, so only files that fit
  // in it can be checked.
  if (hasDescriptor() && fileSize_ <= 0xFFFFFFFFu)
    checksumsHold_ = VerifyDescriptorChecksums(bytes_.data(), uint32_t(fileSize_), fileRecord_.Descriptor);
  return true;
}

bool ChipDump::isWholePart() const {
  if (hasDescriptor()) return fileSize_ == fileRecord_.FlashSize && fileRecord_.BiosSize < fileRecord_.FlashSize;
  if (!flashDescriptor_) return false;
  const auto bios = flashDescriptor_->Region(fwtree::kBiosRegion);
  return bios && bios->base > 0;
}

bool ChipDump::looksLikeFirmware() const {
  if (hasDescriptor() || flashDescriptor_) return true;
  // A volume header's signature lies 40 bytes into it, and volumes start
  // at least 8-byte aligned.
  static constexpr char kVolumeSignature[4] = {'_', 'F', 'V', 'H'};
  const uint8_t* bytes = file();
  for (uint64_t at = 40; at + 4 <= fileSize_; at += 8)
    if (std::memcmp(bytes + at, kVolumeSignature, 4) == 0) return true;
  return false;
}

const fwtree::FirmwareTree& ChipDump::tree() const {
  // Walked from the bytes as they were saved, whenever first asked for:
  // the masks are lifted for the walk.
  if (!tree_) const_cast<ChipDump*>(this)->WalkTree();
  return *tree_;
}

void ChipDump::WalkTree() {
  const bool unmasked = unmasked_;
  ShowUnmasked(true);
  // A part read more than once is walked once: its copies are no more
  // firmware than the first.
  tree_ = fwtree::BuildFirmwareTree(file(), firmwareSize());
  fileIndex_ = fwtree::InnermostFileIndex(*tree_);
  ShowUnmasked(unmasked);
}

const std::string& ChipDump::sha256() const {
  if (!sha256_) {
    ChipDump* self = const_cast<ChipDump*>(this);
    const bool unmasked = unmasked_;
    self->ShowUnmasked(true);
    sha256_ = Sha256Hex(file(), fileSize_);
    self->ShowUnmasked(unmasked);
  }
  return *sha256_;
}

const fwtree::TreeFile* ChipDump::FileAt(uint64_t fileOffset) const {
  tree();
  return fileIndex_.At(fileOffset);
}

void ChipDump::PrepareRegion(uint64_t regionSize, uint64_t regionEnd) {
  // Prepared already at this place: its masks stand, and masking the masked
  // bytes again would save them as the original ones. One golden image is
  // so compared with many chips.
  if (prepared_ && regionSize == regionSize_ && regionEnd == regionEnd_) return;
  prepared_ = true;
  regionSize_ = regionSize;
  regionEnd_ = regionEnd;
  const uint64_t front = regionEnd_ < regionSize ? regionSize - regionEnd_ : 0;
  const uint64_t back = regionEnd_ > fileSize_ ? regionEnd_ - fileSize_ : 0;
  const uint64_t padded = bytes_.size() - fileSize_;
  if (front > front_ || back > padded - front_) {
    // The tree points into the buffer: one walked before it moves is walked
    // again.
    tree_.reset();
    // What lies below the file, and past the end of one cut short, reads
    // as erased flash; the pointers of the file's record move with the
    // buffer.
    const uint64_t descriptor = hasDescriptor() ? descriptorFileOffset() : 0;
    const uint64_t addFront = front > front_ ? front - front_ : 0;
    bytes_.PadErased(addFront, back > padded - front_ ? back - (padded - front_) : 0);
    front_ += addFront;
    if (hasDescriptor()) {
      const uint64_t volume = uint64_t(fileRecord_.Volume - fileRecord_.Image);
      fileRecord_.Image = bytes_.data() + front_;
      fileRecord_.Descriptor = fileRecord_.Image + descriptor;
      fileRecord_.Volume = fileRecord_.Image + volume;
    }
  }
  uint8_t* region = const_cast<uint8_t*>(this->region());
  map_ = MapImage(region, regionSize);
  if (region == fileRecord_.Image && regionSize == fileRecord_.ImageSize) {
    // The same bytes give the same record: spare the second search.
    record_ = fileRecord_;
  } else {
    std::memset(&record_, 0, sizeof record_);
    record_.Image = region;
    record_.ImageSize = regionSize;
    LocateDescriptor(&record_);
  }
  MaskVariableStoreNoting(region, regionSize, &ChipDump::NoteMask, this);
  MaskAreasNoting(region, &record_, &ChipDump::NoteMask, this);
}

void ChipDump::NoteMask(void* context, const MaskNote& note) {
  ChipDump* dump = static_cast<ChipDump*>(context);
  const uint64_t begin = uint64_t(note.At - dump->region());
  MaskedArea area{note.Kind, begin, note.Count, note.AreaFileName != nullptr, {}};
  if (area.hasFile) std::memcpy(area.file, note.AreaFileName, 16);
  dump->masked_.push_back(area);
  dump->saved_.push_back(SavedBytes{begin, std::vector<uint8_t>(note.At, note.At + note.Count)});
}

void ChipDump::ShowUnmasked(bool unmasked) {
  if (unmasked == unmasked_ || saved_.empty()) {
    unmasked_ = unmasked;
    return;
  }
  uint8_t* region = const_cast<uint8_t*>(this->region());
  if (unmasked) {
    masks_.clear();
    for (const SavedBytes& saved : saved_)
      masks_.push_back(
          {saved.begin, std::vector<uint8_t>(region + saved.begin, region + saved.begin + saved.bytes.size())});
    // Later writes may cover earlier ones: undo them newest first.
    for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved)
      std::memcpy(region + saved->begin, saved->bytes.data(), saved->bytes.size());
  } else {
    for (const SavedBytes& mask : masks_) std::memcpy(region + mask.begin, mask.bytes.data(), mask.bytes.size());
    masks_.clear();
  }
  unmasked_ = unmasked;
}

std::vector<uint8_t> ChipDump::RawRegion(uint64_t begin, uint64_t end) const {
  std::vector<uint8_t> raw(region() + begin, region() + end);
  // Later writes may cover earlier ones: undo them newest first.
  for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
    const uint64_t from = std::max(begin, saved->begin);
    const uint64_t to = std::min(end, saved->begin + saved->bytes.size());
    if (from < to) std::memcpy(raw.data() + (from - begin), saved->bytes.data() + (from - saved->begin), to - from);
  }
  return raw;
}

}  // namespace pdiff
