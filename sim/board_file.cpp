#include "sim/board_file.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "sim/image_builder.h"
#include "sim/image_file.h"
#include "sim/whole_file.h"

namespace sim {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Thrown inside the loader only; turned into a BoardError at its edge.
struct KeyProblem {
  std::string key;
  std::string problem;
};

[[noreturn]] void Problem(const std::string& key, const std::string& problem) { throw KeyProblem{key, problem}; }

// "0x" or "0X" and 1 to 16 hexadecimal digits.
bool IsHexadecimal(const json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return text.size() >= 3 && text.size() <= 18 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) &&
         text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

uint64_t Integer(const json& value, const std::string& key, uint64_t max) {
  uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    if (value.get<int64_t>() < 0) Problem(key, "must not be negative");
    result = value.get<uint64_t>();
  } else if (value.is_string()) {
    if (!IsHexadecimal(value)) Problem(key, "expected an integer or a hexadecimal string such as \"0xFF\"");
    result = std::stoull(value.get<std::string>().substr(2), nullptr, 16);
  } else {
    Problem(key, "expected an integer");
  }
  if (result > max) Problem(key, "value " + std::to_string(result) + " is out of range (at most " + std::to_string(max) + ")");
  return result;
}

template <typename Enum>
Enum Choice(const json& value, const std::string& key, std::initializer_list<std::pair<const char*, Enum>> choices) {
  std::string names;
  if (value.is_string()) {
    for (const auto& [name, choice] : choices)
      if (value.get<std::string>() == name) return choice;
  }
  for (const auto& [name, choice] : choices) names += std::string(names.empty() ? "" : ", ") + "\"" + name + "\"";
  Problem(key, "expected one of " + names);
}

bool Flag(const json& value, const std::string& key) {
  if (!value.is_boolean()) Problem(key, "expected true or false");
  return value.get<bool>();
}

void CheckKeys(const json& object, const std::string& where, const std::set<std::string>& known) {
  if (!object.is_object()) Problem(where.empty() ? "(top level)" : where, "expected an object");
  for (const auto& item : object.items())
    if (!known.count(item.key())) Problem(where.empty() ? item.key() : where + "." + item.key(), "unknown key");
}

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
  CheckKeys(object, key, {"image", "flash_size", "bios_size", "block_size", "part_name"});
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

PciFunction ParsePci(const json& object, const std::string& key) {
  CheckKeys(object, key,
            {"vendor", "class", "subclass", "handle_protocol_fails", "class_read_fails", "vendor_read_fails"});
  PciFunction function;
  if (object.contains("vendor")) function.vendor = static_cast<uint16_t>(Integer(object["vendor"], key + ".vendor", 0xFFFF));
  if (object.contains("class")) function.base_class = static_cast<uint8_t>(Integer(object["class"], key + ".class", 0xFF));
  if (object.contains("subclass"))
    function.subclass = static_cast<uint8_t>(Integer(object["subclass"], key + ".subclass", 0xFF));
  if (object.contains("handle_protocol_fails"))
    function.handle_protocol_fails = Flag(object["handle_protocol_fails"], key + ".handle_protocol_fails");
  if (object.contains("class_read_fails"))
    function.class_read_fails = Flag(object["class_read_fails"], key + ".class_read_fails");
  if (object.contains("vendor_read_fails"))
    function.vendor_read_fails = Flag(object["vendor_read_fails"], key + ".vendor_read_fails");
  return function;
}

void ParseMtrr(const json& object, Board* board) {
  CheckKeys(object, "mtrr", {"variable_pairs", "phys_address_bits", "tme_keyid_bits", "pairs"});
  if (object.contains("variable_pairs"))
    board->mtrr_variable_pairs = static_cast<uint32_t>(Integer(object["variable_pairs"], "mtrr.variable_pairs", 255));
  if (object.contains("phys_address_bits")) {
    board->phys_address_bits = static_cast<uint32_t>(Integer(object["phys_address_bits"], "mtrr.phys_address_bits", 64));
    if (board->phys_address_bits < 32) Problem("mtrr.phys_address_bits", "must be at least 32");
  }
  if (object.contains("tme_keyid_bits"))
    board->tme_keyid_bits = static_cast<uint32_t>(Integer(object["tme_keyid_bits"], "mtrr.tme_keyid_bits", 15));
  if (board->tme_keyid_bits >= board->phys_address_bits)
    Problem("mtrr.tme_keyid_bits", "must be smaller than mtrr.phys_address_bits");
  if (object.contains("pairs")) {
    const json& pairs = object["pairs"];
    if (!pairs.is_object()) Problem("mtrr.pairs", "expected an object keyed by pair number");
    board->mtrr_pairs.clear();
    for (const auto& item : pairs.items()) {
      std::string key = "mtrr.pairs." + item.key();
      if (item.key().empty() || item.key().find_first_not_of("0123456789") != std::string::npos || item.key().size() > 3)
        Problem(key, "pair numbers are decimal integers");
      CheckKeys(item.value(), key, {"base", "mask"});
      MtrrPair pair;
      if (item.value().contains("base")) pair.base = Integer(item.value()["base"], key + ".base", ~0ull);
      if (item.value().contains("mask")) pair.mask = Integer(item.value()["mask"], key + ".mask", ~0ull);
      board->mtrr_pairs[static_cast<unsigned>(std::stoul(item.key()))] = pair;
    }
  }
}

Board ParseBoard(const json& root, const fs::path& base) {
  CheckKeys(root, "", {"active", "chip_select", "is_supported", "switch", "mailbox", "acpi", "smi_port", "pci",
                       "mtrr", "fail_alloc", "fail_file", "disk_free", "chips"});
  Board board;
  if (root.contains("active")) {
    const json& active = root["active"];
    if (active.is_string() && active.get<std::string>() == "main")
      board.active = 0;
    else if (active.is_string() && active.get<std::string>() == "backup")
      board.active = 1;
    else if (active.is_number() || IsHexadecimal(active))
      board.active = static_cast<uint8_t>(Integer(active, "active", 255));
    else
      Problem("active", "expected \"main\", \"backup\" or an integer 0..255");
  }
  if (root.contains("chip_select"))
    board.chip_select = Choice<ChipSelectMode>(root["chip_select"], "chip_select",
                                               {{"present", ChipSelectMode::Present},
                                                {"absent", ChipSelectMode::Absent},
                                                {"unsupported", ChipSelectMode::Unsupported}});
  if (root.contains("is_supported"))
    board.is_supported_value = static_cast<uint8_t>(Integer(root["is_supported"], "is_supported", 255));
  if (root.contains("switch"))
    board.switch_mode = Choice<SwitchMode>(root["switch"], "switch",
                                           {{"ok", SwitchMode::Ok},
                                            {"stuck", SwitchMode::Stuck},
                                            {"ignore-main", SwitchMode::IgnoreMain},
                                            {"ignore-backup", SwitchMode::IgnoreBackup}});
  if (root.contains("mailbox"))
    board.mailbox = Choice<MailboxMode>(root["mailbox"], "mailbox",
                                        {{"qvt", MailboxMode::Qvt}, {"qv1", MailboxMode::Qv1}, {"none", MailboxMode::None}});
  if (root.contains("acpi"))
    board.acpi = Choice<AcpiMode>(root["acpi"], "acpi",
                                  {{"present", AcpiMode::Present}, {"absent", AcpiMode::Absent}, {"no-facp", AcpiMode::NoFacp}});
  if (root.contains("smi_port")) board.smi_port = static_cast<uint16_t>(Integer(root["smi_port"], "smi_port", 0xFFFF));
  if (root.contains("pci")) {
    if (!root["pci"].is_array()) Problem("pci", "expected an array");
    board.pci.clear();
    for (size_t i = 0; i < root["pci"].size(); ++i)
      board.pci.push_back(ParsePci(root["pci"][i], "pci[" + std::to_string(i) + "]"));
  }
  if (root.contains("mtrr")) ParseMtrr(root["mtrr"], &board);
  if (root.contains("fail_alloc")) {
    if (!root["fail_alloc"].is_array()) Problem("fail_alloc", "expected an array of integers");
    for (size_t i = 0; i < root["fail_alloc"].size(); ++i) {
      std::string key = "fail_alloc[" + std::to_string(i) + "]";
      uint64_t ordinal = Integer(root["fail_alloc"][i], key, ~0ull);
      if (ordinal == 0) Problem(key, "allocations are counted from 1");
      board.fail_alloc.push_back(ordinal);
    }
  }
  if (root.contains("fail_file"))
    board.fail_file = Choice<FileFailure>(root["fail_file"], "fail_file",
                                          {{"none", FileFailure::None},
                                           {"open", FileFailure::Open},
                                           {"write", FileFailure::Write},
                                           {"close", FileFailure::Close},
                                           {"rename", FileFailure::Rename}});
  if (root.contains("disk_free")) board.disk_free = Integer(root["disk_free"], "disk_free", ~0ull);
  const json chips = root.contains("chips") ? root["chips"] : json::object();
  CheckKeys(chips, "chips", {"main", "backup"});
  if (chips.contains("main")) board.main = ParseChip(chips["main"], "chips.main", base);
  if (chips.contains("backup")) board.backup = ParseChip(chips["backup"], "chips.backup", base);
  // A chip left out is a copy of the sample board's Main chip.
  if (!chips.contains("main") || !chips.contains("backup")) {
    Chip sample = SampleBoard().main;
    if (!chips.contains("main")) board.main = sample;
    if (!chips.contains("backup")) board.backup = sample;
  }
  return board;
}

Chip ChipFromImageFile(const std::string& path, const std::string& key) {
  Chip chip;
  chip.file = MapImage(path, key);
  chip.flash_size = static_cast<uint32_t>(chip.size());
  chip.bios_size = chip.flash_size;
  return chip;
}

// Board files are a few kilobytes; this bounds what a wrong path (a device
// that never ends) can make the loader hold.
constexpr size_t kMaxBoardFileBytes = 16u << 20;

}  // namespace

bool LoadBoardFile(const std::string& path, Board* board, BoardError* error) {
  std::string text;
  if (!ReadWholeFile(path, kMaxBoardFileBytes, &text, &error->message)) {
    error->message = "board file " + error->message;
    return false;
  }
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& problem) {  // syntax, or a number too large for any type
    error->message = path + ": not valid JSON (" + problem.what() + ")";
    return false;
  }
  try {
    *board = ParseBoard(root, fs::path(path).parent_path());
  } catch (const KeyProblem& problem) {
    error->message = path + ": key '" + problem.key + "': " + problem.problem;
    return false;
  }
  return true;
}

bool LoadImageBoard(const std::string& mainPath, const std::string& backupPath, Board* board, BoardError* error) {
  Board result;
  try {
    if (mainPath.empty() || backupPath.empty()) {
      Chip sample = SampleBoard().main;
      result.main = sample;
      result.backup = sample;
    }
    if (!mainPath.empty()) result.main = ChipFromImageFile(mainPath, "--main");
    if (!backupPath.empty()) result.backup = ChipFromImageFile(backupPath, "--backup");
  } catch (const KeyProblem& problem) {
    error->message = problem.key + ": " + problem.problem;
    return false;
  }
  *board = std::move(result);
  return true;
}

bool WriteSampleBoard(const std::string& directory, BoardError* error) {
  std::error_code code;
  fs::create_directories(directory, code);
  Board sample = SampleBoard();
  json description = {
      {"active", "main"},
      {"chips",
       {{"main", {{"image", "main.rom"}, {"bios_size", sample.main.bios_size}, {"block_size", sample.main.block_size}}},
        {"backup",
         {{"image", "backup.rom"}, {"bios_size", sample.backup.bios_size}, {"block_size", sample.backup.block_size}}}}}};
  std::string text = description.dump(2) + "\n";
  fs::path base(directory);
  return WriteWholeFile((base / "board.json").string(), text.data(), text.size(), &error->message) &&
         WriteWholeFile((base / "main.rom").string(), sample.main.image.data(), sample.main.image.size(),
                        &error->message) &&
         WriteWholeFile((base / "backup.rom").string(), sample.backup.image.data(), sample.backup.image.size(),
                        &error->message);
}

}  // namespace sim
