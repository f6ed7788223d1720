// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/sim_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "firmware/mailbox.h"

namespace support {

std::string Banner() {
  return "Pellrix BIOS Utility for UEFI SHELL Ver.1.06\n"
         "Copyright (c) Pellrix developers. All rights reserved.\n"
         "\n";
}

std::string UsageText() {
  return "Usage:\n\n"
         "Pellrix              : Main Backup BIOS Comparison Test\n"
         "Pellrix /delay TIMER : Comparison Test, Delay between switching BIOS\n"
         "                       TIMER : 0~100 in unit of 0.1sec\n"
         "Pellrix /i           : Simple test\n"
         "                       - To dump & compare BIOS basic information:\n"
         "                         Model name, BIOS version, Part Number,\n"
         "                         BIOS Size & Flash part\n"
         "Pellrix /p           : Get BIOS Position\n"
         "Pellrix /c SELECT    : Change BIOS Position\n"
         "                       SELECT : 1 = Main BIOS, 2 = Backup BIOS\n"
         "Pellrix /s SELECT    : Save BIOS\n"
         "                       SELECT : 1 = Main BIOS, 2 = Backup BIOS\n"
         "\n";
}

sim::Chip PatternChip(uint32_t flashSize, uint32_t biosSize, uint32_t blockSize, uint32_t seed) {
  sim::Chip chip;
  chip.image.resize(flashSize);
  std::mt19937 random(seed);
  for (auto& byte : chip.image) byte = static_cast<uint8_t>(random());
  chip.flash_size = flashSize;
  chip.bios_size = biosSize;
  chip.block_size = blockSize;
  return chip;
}

sim::Board PatternBoard(uint32_t flashSize, uint32_t biosSize, uint32_t blockSize) {
  sim::Board board;
  board.main = PatternChip(flashSize, biosSize, blockSize, 1);
  board.backup = PatternChip(flashSize, biosSize, blockSize, 2);
  return board;
}

std::vector<int> ProgressValues(const std::string& output, const std::string& caption) {
  std::vector<int> values;
  std::string marker = "\r" + caption;
  for (size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    size_t digits = at + marker.size();
    size_t end = output.find('%', digits);
    if (end == std::string::npos) break;
    std::string number = output.substr(digits, end - digits);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) continue;
    values.push_back(std::stoi(number));
  }
  return values;
}

void StartFirmware() {
  ResetToolState();
  ASSERT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pellrix-test-XXXXXX").string();
  path_ = mkdtemp(pattern.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  // One read of the whole file: a byte-at-a-time stream copy of the
  // 16 MiB chips takes minutes under the address sanitizer.
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = file ? std::streamoff(file.tellg()) : -1;
  if (size < 0) {
    file.clear();
    file.seekg(0);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.data()), size);
  bytes.resize(static_cast<size_t>(file.gcount()));
  return bytes;
}

}  // namespace support
