// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_file.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <set>

#include "sim/board_keys.h"
#include "sim/whole_file.h"

namespace sim {

namespace {

using board_json::CheckKeys;
using board_json::KeyProblem;
using nlohmann::json;
namespace fs = std::filesystem;

Board ParseBoard(const json& root, const fs::path& base) {
  CheckKeys(root, "",
            {"active", "chip_select", "is_supported", "switch", "mailbox", "acpi", "smi_port", "pci", "mtrr",
             "fail_alloc", "fail_file", "disk_free", "chips"});
  Board board;
  board_keys::ParseFirmwareKeys(root, &board);
  board_keys::ParseProcessorKeys(root, &board);
  board_keys::ParseFailureKeys(root, &board);
  board_keys::ParseChipKeys(root, base, &board);
  return board;
}

// Board files are a few kilobytes; this bounds what a wrong path (a device
// that never ends) can make the loader hold.
constexpr size_t kMaxBoardFileBytes = 16u << 20;

// Real board files nest four levels deep; a deeper one is refused before it
// is parsed, since the parsed document is walked (and destroyed) recursively.
constexpr int kMaxBoardFileDepth = 32;

// The top-level key whose value nests deeper than the limit ("" for the
// document itself), or nothing. Brackets inside strings do not count.
std::optional<std::string> TooDeeplyNestedKey(const std::string& text) {
  int depth = 0;
  std::string lastString;
  std::string topLevelKey;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      size_t start = ++i;
      while (i < text.size() && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
      lastString = text.substr(start, std::min(i, text.size()) - start);
    } else if (c == ':' && depth == 1) {
      topLevelKey = lastString;
    } else if (c == '{' || c == '[') {
      if (++depth > kMaxBoardFileDepth) return topLevelKey;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return std::nullopt;
}

}  // namespace

bool LoadBoardFile(const std::string& path, Board* board, BoardError* error) {
  std::string text;
  if (!ReadWholeFile(path, kMaxBoardFileBytes, &text, &error->message)) {
    error->message = "board file " + error->message;
    return false;
  }
  if (std::optional<std::string> key = TooDeeplyNestedKey(text)) {
    error->message =
        path + ": key '" + *key + "': nested deeper than " + std::to_string(kMaxBoardFileDepth) + " levels";
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
    if (!mainPath.empty()) result.main = board_keys::ChipFromImageFile(mainPath, "--main");
    if (!backupPath.empty()) result.backup = board_keys::ChipFromImageFile(backupPath, "--backup");
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
         {{"image", "backup.rom"},
          {"bios_size", sample.backup.bios_size},
          {"block_size", sample.backup.block_size}}}}}};
  std::string text = description.dump(2) + "\n";
  fs::path base(directory);
  return WriteWholeFile((base / "board.json").string(), text.data(), text.size(), &error->message) &&
         WriteWholeFile((base / "main.rom").string(), sample.main.image.data(), sample.main.image.size(),
                        &error->message) &&
         WriteWholeFile((base / "backup.rom").string(), sample.backup.image.data(), sample.backup.image.size(),
                        &error->message);
}

}  // namespace sim
