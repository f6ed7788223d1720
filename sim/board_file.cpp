#include "sim/board_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "sim/image_builder.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

uint64_t Integer(const json& value, const std::string& key, uint64_t max) {
  uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    if (value.get<int64_t>() < 0) Problem(key, "must not be negative");
    result = value.get<uint64_t>();
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    if (text.size() < 3 || text.size() > 18 || (text.rfind("0x", 0) != 0 && text.rfind("0X", 0) != 0) ||
        text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
      Problem(key, "expected an integer or a hexadecimal string such as \"0xFF\"");
    result = std::stoull(text.substr(2), nullptr, 16);
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

std::shared_ptr<const MappedImage> MapImage(const fs::path& path, const std::string& key) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (descriptor < 0 || fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (descriptor >= 0) close(descriptor);
    Problem(key, "cannot read image file " + path.string());
  }
  auto image = std::make_shared<MappedImage>();
  image->size = static_cast<uint64_t>(status.st_size);
  if (image->size != 0) {
    void* bytes = mmap(nullptr, image->size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (bytes == MAP_FAILED) {
      close(descriptor);
      Problem(key, "cannot map image file " + path.string());
    }
    image->bytes = static_cast<const uint8_t*>(bytes);
  }
  close(descriptor);
  return image;
}

constexpr uint64_t kMaxPart = 0xFFFFFFFFull;
constexpr uint64_t kWindowSpan = 32ull << 20;

void CheckGeometry(const Chip& chip, const std::string& key) {
  if (chip.size() > kMaxPart) Problem(key + ".image", "a flash part is at most 4 GiB");
  if (chip.bios_size > chip.size())
    Problem(key + ".bios_size", "BIOS region of " + std::to_string(chip.bios_size) + " bytes does not fit the " +
                                    std::to_string(chip.size()) + "-byte part");
  if (chip.bios_size > kWindowSpan) Problem(key + ".bios_size", "the flash window spans at most 32 MiB");
  if (chip.flash_size > chip.size())
    Problem(key + ".flash_size", "flash size " + std::to_string(chip.flash_size) + " exceeds the " +
                                     std::to_string(chip.size()) + "-byte image");
}

Chip ParseChip(const json& object, const std::string& key, const fs::path& base) {
  CheckKeys(object, key, {"image", "flash_size", "bios_size", "block_size", "part_name"});
  Chip chip;
  bool sized = object.contains("flash_size");
  uint64_t flashSize = sized ? Integer(object["flash_size"], key + ".flash_size", kMaxPart) : 0;
  if (object.contains("image")) {
    if (!object["image"].is_string()) Problem(key + ".image", "expected a file path");
    chip.file = MapImage(base / object["image"].get<std::string>(), key + ".image");
    if (!sized) flashSize = chip.size();
  } else {
    // No image: an erased part of the stated size (16 MiB when none is stated).
    if (!sized) flashSize = 16u << 20;
    chip.image.assign(flashSize, 0xFF);
  }
  chip.flash_size = static_cast<uint32_t>(flashSize);
  chip.bios_size = object.contains("bios_size")
                       ? static_cast<uint32_t>(Integer(object["bios_size"], key + ".bios_size", kMaxPart))
                       : chip.flash_size;
  if (object.contains("block_size"))
    chip.block_size = static_cast<uint32_t>(Integer(object["block_size"], key + ".block_size", kMaxPart));
  if (object.contains("part_name")) {
    if (!object["part_name"].is_string()) Problem(key + ".part_name", "expected a string");
    chip.part_name = object["part_name"].get<std::string>();
    if (chip.part_name.size() > 48) Problem(key + ".part_name", "at most 48 bytes");
  }
  CheckGeometry(chip, key);
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
    else if (active.is_number())
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
  CheckGeometry(chip, key);
  return chip;
}

bool WriteFile(const fs::path& path, const void* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(file);
}

}  // namespace

bool LoadBoardFile(const std::string& path, Board* board, BoardError* error) {
  std::ifstream file(path);
  if (!file) {
    error->message = path + ": cannot read the board file";
    return false;
  }
  json root;
  try {
    root = json::parse(file);
  } catch (const json::parse_error& problem) {
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
  if (!WriteFile(base / "board.json", text.data(), text.size()) ||
      !WriteFile(base / "main.rom", sample.main.image.data(), sample.main.image.size()) ||
      !WriteFile(base / "backup.rom", sample.backup.image.data(), sample.backup.image.size())) {
    error->message = directory + ": cannot write the sample board";
    return false;
  }
  return true;
}

}  // namespace sim
