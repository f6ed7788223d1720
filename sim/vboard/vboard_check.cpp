// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/vboard/vboard_check.h"

#include "firmware/cpu/flash_window.h"
#include "runtime/memory.h"

namespace vboard {

namespace {

constexpr uint64_t kFirstPage = 4096;

bool TerminatedName(const char* name, unsigned capacity) {
  for (unsigned i = 0; i < capacity; ++i)
    if (name[i] == '\0') return i > 0;
  return false;
}

const char* ChipProblem(const ChipRecord& chip) {
  if (!TerminatedName(chip.image_file, sizeof chip.image_file)) return "bad image file name in ";
  if (chip.image_size != 0 && chip.image_size < chip.flash_size) return "image smaller than its part in ";
  return nullptr;
}

bool Overlaps(uint64_t start, uint64_t count, const uint8_t* bytes, uint64_t size) {
  const uint64_t other = reinterpret_cast<uintptr_t>(bytes);
  return bytes != nullptr && size != 0 && start < other + size && other < start + count;
}

}  // namespace

const char* BoardFileProblem(const BoardFile& file) {
  if (memcmp(file.magic, kMagic, sizeof file.magic) != 0 || file.version != kVersion ||
      file.header_size != sizeof file || file.switch_mode > static_cast<uint8_t>(kLastSwitchMode) ||
      file.mailbox > static_cast<uint8_t>(kLastMailboxMode) || file.acpi > static_cast<uint8_t>(kLastAcpiMode) ||
      file.chip_select > kChipSelectAbsent || file.fail_alloc_count > kMostAllocationFailures)
    return "not a board file of this version: ";
  for (const ChipRecord& chip : file.chips)
    if (const char* problem = ChipProblem(chip)) return problem;
  return nullptr;
}

bool MailboxDestinationAllowed(const sim::BoardModel& board, uint64_t address, uint32_t count) {
  if (address < kFirstPage || address + count > kFourGiB) return false;
  for (const sim::ModelChip& chip : board.chips)
    if (Overlaps(address, count, chip.image, chip.image_size)) return false;
  return true;
}

void SetModesFromBoardFile(const BoardFile& file, sim::BoardModel* board) {
  board->active = file.active;
  board->is_supported = file.is_supported;
  board->switch_mode = static_cast<sim::SwitchMode>(file.switch_mode);
  board->mailbox = static_cast<sim::MailboxMode>(file.mailbox);
  board->mailbox_answer = file.mailbox_answer;
  board->smi_port = file.smi_port;
}

}  // namespace vboard
