// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_file.h"
#include "sim/board_keys.h"
#include "sim/image_file.h"

namespace sim::board_keys {

using namespace board_json;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<const MappedImage> MapImage(const std::string& path, const std::string& key) {
  // The system call would stop at the NUL and open some other file.
  if (path.find('\0') != std::string::npos) Problem(key, "the path contains a NUL character");
  std::string problem;
  std::shared_ptr<const MappedImage> image = MapImageFile(path, &problem);
  if (!image) Problem(key, problem);
  return image;
}

// An image must hold the whole part the mailbox reports. The BIOS region and
// the block size are the mailbox's to report, whatever they are: what-if
// boards use regions larger than the part.
void CheckImageHoldsPart(const Chip& chip, const std::string& key) {
  if (chip.flash_size > chip.size())
    Problem(key + ".flash_size", "flash size " + std::to_string(chip.flash_size) + " exceeds the " +
                                     std::to_string(chip.size()) + "-byte image");
}

Chip ParseChip(const json& object, const std::string& key, const fs::path& base) {
  // "unread": a recorder's note on a chip it could not reach (an erased part
  // stands for it); it changes nothing on the board.
  CheckKeys(object, key, {"image", "flash_size", "bios_size", "block_size", "part_name", "unread"});
  if (object.contains("unread") && !object["unread"].is_string()) Problem(key + ".unread", "expected a text");
  Chip chip;
  bool sized = object.contains("flash_size");
  uint64_t flashSize = sized ? Integer(object["flash_size"], key + ".flash_size", kMaxPartSize) : 0;
  if (object.contains("image")) {
    if (!object["image"].is_string()) Problem(key + ".image", "expected a file path");
    chip.file = MapImage((base / object["image"].get<std::string>()).string(), key + ".image");
    if (!sized) flashSize = chip.size();
  } else if (!sized) {
    // No image: an erased part (it holds no bytes) of 16 MiB when no size is stated.
    flashSize = 16u << 20;
  }
  chip.flash_size = static_cast<uint32_t>(flashSize);
  chip.bios_size = object.contains("bios_size")
                       ? static_cast<uint32_t>(Integer(object["bios_size"], key + ".bios_size", kMaxPartSize))
                       : chip.flash_size;
  if (object.contains("block_size"))
    chip.block_size = static_cast<uint32_t>(Integer(object["block_size"], key + ".block_size", kMaxPartSize));
  if (object.contains("part_name")) {
    if (!object["part_name"].is_string()) Problem(key + ".part_name", "expected a string");
    chip.part_name = object["part_name"].get<std::string>();
    if (chip.part_name.size() > 48) Problem(key + ".part_name", "at most 48 bytes");
  }
  if (chip.file) CheckImageHoldsPart(chip, key);
  return chip;
}

}  // namespace

void ParseChipKeys(const json& root, const fs::path& base, Board* board) {
  const json chips = root.contains("chips") ? root["chips"] : json::object();
  CheckKeys(chips, "chips", {"main", "backup"});
  if (chips.contains("main")) board->main = ParseChip(chips["main"], "chips.main", base);
  if (chips.contains("backup")) board->backup = ParseChip(chips["backup"], "chips.backup", base);
  // A chip left out is a copy of the sample board's Main chip.
  if (!chips.contains("main") || !chips.contains("backup")) {
    Chip sample = SampleBoard().main;
    if (!chips.contains("main")) board->main = sample;
    if (!chips.contains("backup")) board->backup = sample;
  }
}

Chip ChipFromImageFile(const std::string& path, const std::string& key) {
  Chip chip;
  chip.file = MapImage(path, key);
  chip.flash_size = static_cast<uint32_t>(chip.size());
  chip.bios_size = chip.flash_size;
  return chip;
}

}  // namespace sim::board_keys
