// The simulated CPU layer: port writes reach the board's SMI handler, MSRs are
// a register file with the board's MTRRs, and the flash window shows the
// active chip.
#include <algorithm>
#include <cstring>

#include "firmware/cpu/cpuid.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/cpu/msr.h"
#include "firmware/cpu/port.h"
#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr uint32_t kMtrrCapability = 0xFE;
constexpr uint32_t kMtrrPhysBase0 = 0x200;

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
  sim::ModelTakeSmi(CurrentMachine().model(), port, commandByte, buffer);
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
  sim::ModelReadWindow(CurrentMachine().model(), address, destination, count);
}

uint32_t ReadFlashWindow32(uint32_t address) {
  uint32_t value = 0;
  ReadFlashWindow(address, &value, sizeof value);
  return value;
}
