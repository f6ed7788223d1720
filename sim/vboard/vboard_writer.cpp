// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/vboard/vboard_writer.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/board_model.h"
#include "sim/whole_file.h"

namespace vboard {
namespace {

ChipRecord RecordOf(const sim::Chip& chip, const char* imageFile) {
  ChipRecord record{};
  record.flash_size = chip.flash_size;
  record.bios_size = chip.bios_size;
  record.block_size = chip.block_size;
  record.window_bytes = chip.window_bytes.value_or(chip.bios_size);
  record.image_size = chip.size();
  for (size_t i = 0; i < sizeof record.part_name && i < chip.part_name.size(); ++i)
    record.part_name[i] = chip.part_name[i];
  for (size_t i = 0; imageFile[i] != '\0' && i + 1 < sizeof record.image_file; ++i) record.image_file[i] = imageFile[i];
  return record;
}

// What the driver cannot reproduce because the real firmware decides it;
// each entry is one line for the user.
std::vector<std::string> NotCarried(const sim::Board& board) {
  std::vector<std::string> notes;
  if (board.fail_alloc.size() > kMostAllocationFailures)
    notes.push_back("fail_alloc: only the first " + std::to_string(kMostAllocationFailures) + " entries are carried");
  if (board.fail_file != sim::FileFailure::None)
    notes.push_back("fail_file: the real FAT drive does not fail on request");
  if (board.disk_free) notes.push_back("disk_free: the FAT image's own free space applies");
  if (board.tme_keyid_bits != 0) notes.push_back("mtrr.tme_keyid_bits: the processor QEMU emulates is used");
  return notes;
}

}  // namespace

// The header as the driver reads it; chip select and the model's modes are
// taken the way the simulated machine takes them.
BoardFile BoardFileOf(const sim::Board& board) {
  BoardFile file{};
  for (size_t i = 0; i < sizeof kMagic; ++i) file.magic[i] = kMagic[i];
  file.version = kVersion;
  file.header_size = sizeof(BoardFile);
  file.active = board.active;
  file.is_supported = board.chip_select == sim::ChipSelectMode::Unsupported ? 0 : board.is_supported_value;
  file.chip_select = board.chip_select == sim::ChipSelectMode::Absent ? kChipSelectAbsent : kChipSelectPresent;
  file.switch_mode = static_cast<uint8_t>(static_cast<sim::SwitchMode>(board.switch_mode));
  file.mailbox = static_cast<uint8_t>(static_cast<sim::MailboxMode>(board.mailbox));
  file.acpi = static_cast<uint8_t>(board.acpi);
  file.smi_port = board.smi_port;
  for (uint64_t ordinal : board.fail_alloc)
    if (file.fail_alloc_count < kMostAllocationFailures) file.fail_alloc[file.fail_alloc_count++] = ordinal;
  file.mailbox_answer = board.mailbox_answer;
  file.chips[0] = RecordOf(board.main, kMainImageName);
  file.chips[1] = RecordOf(board.backup, kBackupImageName);
  return file;
}

// DIR/VBOARD.BIN, DIR/MAIN.ROM and DIR/BACK.ROM; false with `problem` set
// when a file cannot be written.
bool WriteVboard(const sim::Board& board, const std::string& directory, std::string* problem) {
  std::error_code code;
  std::filesystem::create_directories(directory, code);
  std::filesystem::path base(directory);
  BoardFile file = BoardFileOf(board);
  // An erased chip holds no bytes: its image file is empty and the driver's
  // board model reads it as 0xFF all through, as this one does.
  if (!sim::WriteWholeFile((base / kBoardFileName).string(), &file, sizeof file, problem) ||
      !sim::WriteWholeFile((base / kMainImageName).string(), board.main.data(), board.main.size(), problem) ||
      !sim::WriteWholeFile((base / kBackupImageName).string(), board.backup.data(), board.backup.size(), problem))
    return false;
  for (const std::string& note : NotCarried(board))
    std::fprintf(stderr, "pellrix-sim: not in the virtual board: %s\n", note.c_str());
  return true;
}

}  // namespace vboard
