// The simulated CPU layer: port writes reach the board's SMI handler, MSRs are
// a register file with the board's MTRRs, and the flash window shows the
// active chip.
#include <algorithm>
#include <cstring>

#include "firmware/cpu/cpuid.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/cpu/msr.h"
#include "firmware/cpu/port.h"
#include "firmware/flash_mailbox.h"
#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr uint64_t kFourGiB = 1ull << 32;
constexpr uint32_t kMtrrCapability = 0xFE;
constexpr uint32_t kMtrrPhysBase0 = 0x200;

// Copies part bytes [offset, offset + count) of `image`; bytes past its end read
// as erased.
void CopyFromPart(const std::vector<uint8_t>& image, uint64_t offset, uint8_t* destination, uint64_t count) {
  std::memset(destination, 0xFF, count);
  if (offset >= image.size()) return;
  uint64_t available = std::min<uint64_t>(count, image.size() - offset);
  std::memcpy(destination, image.data() + offset, available);
}

void AnswerQuery(Machine& machine, FlashMailbox* mailbox) {
  if (mailbox->Signature != kHandshakeSignature) return;
  const Chip& chip = machine.active_chip();
  mailbox->Answer = machine.board().mailbox == MailboxMode::Qvt ? kAnswerQvt : kAnswerQv1;
  if (machine.board().mailbox_answer != 0) mailbox->Answer = machine.board().mailbox_answer;
  mailbox->Arg0 = chip.bios_size;
  mailbox->Arg1 = chip.block_size;
  mailbox->Arg2 = chip.flash_size;
  std::memcpy(mailbox->PartInfo, "SIMPART0", sizeof mailbox->PartInfo);
  std::memset(mailbox->PartName, 0, sizeof mailbox->PartName);
  std::memcpy(mailbox->PartName, chip.part_name.data(), std::min(chip.part_name.size(), sizeof mailbox->PartName));
}

void AnswerReadBlock(Machine& machine, FlashMailbox* mailbox) {
  const Chip& chip = machine.active_chip();
  uintptr_t destination = mailbox->Arg2;
  uint32_t count = mailbox->Arg1;
  Machine::Impl& impl = machine.impl();
  if (!impl.pool.Contains(destination, count) && !impl.pages.Contains(destination, count)) {
    ++machine.report().dma_faults;
    return;
  }
  uint32_t offset = mailbox->Arg0 - static_cast<uint32_t>(kFourGiB - chip.flash_size);
  CopyFromPart(chip.image, offset, reinterpret_cast<uint8_t*>(destination), count);
}

bool IsVariableMtrr(const Board& board, uint32_t index) {
  return index >= kMtrrPhysBase0 && index < kMtrrPhysBase0 + 2 * board.mtrr_variable_pairs;
}

// Bits that a variable-range MTRR write must leave clear.
uint64_t ReservedBits(const Board& board, uint32_t index) {
  uint64_t width = board.phys_address_bits >= 64 ? ~0ull : (1ull << board.phys_address_bits) - 1;
  bool mask = (index - kMtrrPhysBase0) % 2 == 1;
  return mask ? ~width | 0x7FFull : ~width | 0xF00ull;
}

}  // namespace

void InitCpu(Machine& machine) {
  const Board& board = machine.board();
  auto& msrs = machine.impl().msrs;
  msrs[kMtrrCapability] = board.mtrr_variable_pairs | 1u << 8 | 1u << 10;
  for (uint32_t pair = 0; pair < board.mtrr_variable_pairs; ++pair) {
    msrs[kMtrrPhysBase0 + 2 * pair] = 0;
    msrs[kMtrrPhysBase0 + 2 * pair + 1] = 0;
  }
  for (const auto& [pair, value] : board.mtrr_pairs) {
    if (pair >= board.mtrr_variable_pairs) continue;
    msrs[kMtrrPhysBase0 + 2 * pair] = value.base;
    msrs[kMtrrPhysBase0 + 2 * pair + 1] = value.mask;
  }
}

}  // namespace sim

using sim::CurrentMachine;
using sim::Machine;

void TriggerSoftwareSmi(uint16_t port, uint8_t commandByte, void* buffer) {
  Machine& machine = CurrentMachine();
  if (port != machine.board().smi_port) {
    ++machine.report().port_writes_elsewhere;
    return;
  }
  auto* mailbox = static_cast<FlashMailbox*>(buffer);
  sim::SmiCounts& smi = machine.report().smi;
  switch (static_cast<MailboxCommand>(mailbox->Command)) {
    case MailboxCommand::Query:
      ++smi.query;
      break;
    case MailboxCommand::ReadBlock:
      ++smi.read_block;
      break;
    case MailboxCommand::BeginRead:
      ++smi.begin_read;
      break;
    case MailboxCommand::EndRead:
      ++smi.end_read;
      break;
  }
  if (machine.board().mailbox == sim::MailboxMode::None || commandByte != kSmiFlashCommandByte) return;
  uint32_t agreed = machine.board().mailbox == sim::MailboxMode::Qvt ? kSignatureQvt : kSignatureQv1;
  switch (static_cast<MailboxCommand>(mailbox->Command)) {
    case MailboxCommand::Query:
      sim::AnswerQuery(machine, mailbox);
      break;
    case MailboxCommand::ReadBlock:
      if (mailbox->Signature == agreed) sim::AnswerReadBlock(machine, mailbox);
      break;
    default:
      break;
  }
}

uint64_t ReadMsr(uint32_t index) {
  Machine& machine = CurrentMachine();
  auto& msrs = machine.impl().msrs;
  auto found = msrs.find(index);
  if (found == msrs.end()) {
    ++machine.report().msr_faults;
    return 0;
  }
  return found->second;
}

void WriteMsr(uint32_t index, uint64_t value) {
  Machine& machine = CurrentMachine();
  machine.report().msr_writes.emplace_back(index, value);
  if (!sim::IsVariableMtrr(machine.board(), index) || (value & sim::ReservedBits(machine.board(), index)) != 0) {
    ++machine.report().msr_faults;
    return;
  }
  machine.impl().msrs[index] = value;
}

void ReloadCr3() { ++CurrentMachine().report().cr3_reloads; }

CpuidResult Cpuid(uint32_t leaf) {
  if (leaf == 0x80000000) return {0x80000008, 0, 0, 0};
  if (leaf == 0x80000008) return {CurrentMachine().board().phys_address_bits | 48u << 8, 0, 0, 0};
  return {0, 0, 0, 0};
}

void ReadFlashWindow(uint32_t address, void* destination, uint32_t count) {
  Machine& machine = CurrentMachine();
  const sim::Chip& chip = machine.active_chip();
  uint64_t start = address;
  if (start + count > sim::kFourGiB) ++machine.report().window_overruns;
  uint64_t end = std::min<uint64_t>(start + count, sim::kFourGiB);
  auto* bytes = static_cast<uint8_t*>(destination);
  std::memset(bytes, 0xFF, end - start);
  // The top bios_size bytes of the part end at 4 GiB.
  uint64_t mapped = chip.window_bytes.value_or(chip.bios_size);
  uint64_t mappedBase = sim::kFourGiB - std::min<uint64_t>(mapped, chip.image.size());
  uint64_t from = std::max(start, mappedBase);
  if (from >= end) return;
  uint64_t partOffset = chip.image.size() - (sim::kFourGiB - from);
  std::memcpy(bytes + (from - start), chip.image.data() + partOffset, end - from);
}

uint32_t ReadFlashWindow32(uint32_t address) {
  uint32_t value = 0;
  ReadFlashWindow(address, &value, sizeof value);
  return value;
}
