// SPDX-License-Identifier: BSD-2-Clause-Patent
// The simulated CPU layer: port writes reach the board's SMI handler, MSRs are
// a register file with the board's MTRRs, and the flash window shows the
// active chip.
#include <cstdio>
#include <cstring>
#include <string>

#include "firmware/cpu/cpuid.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/cpu/msr.h"
#include "firmware/cpu/port.h"
#include "sim/machine_impl.h"

namespace sim {
namespace {

constexpr uint32_t kMtrrCapability = 0xFE;
constexpr uint32_t kMtrrPhysBase0 = 0x200;
constexpr uint32_t kMtrrDefaultType = 0x2FF;
constexpr uint32_t kTmeActivate = 0x982;

bool IsVariableMtrr(const Board& board, uint32_t index) {
  return index >= kMtrrPhysBase0 && index < kMtrrPhysBase0 + 2 * board.mtrr_variable_pairs;
}

uint32_t UsableAddressBits(const Board& board) { return board.phys_address_bits - board.tme_keyid_bits; }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

void RecordFault(Machine& machine, std::string what) {
  machine.report().cpu_faults.push_back(std::move(what));
  ++ProcessHazardTotals().cpu_faults;
}

// Why a real processor would fault on writing `value` to variable MTRR
// `index`, or an empty text when it would not.
std::string VariableMtrrWriteFault(const Board& board, uint32_t index, uint64_t value) {
  uint32_t bits = UsableAddressBits(board);
  uint64_t addressBits = bits >= 64 ? ~0ull : (1ull << bits) - 1;
  bool mask = (index - kMtrrPhysBase0) % 2 == 1;
  if ((value & ~addressBits) != 0) return "bits above the physical address width";
  if ((value & (mask ? 0x7FFull : 0xF00ull)) != 0) return "reserved bits set";
  return "";
}

}  // namespace

void InitCpu(Machine& machine) {
  const Board& board = machine.board();
  auto& msrs = machine.impl().msrs;
  msrs[kMtrrCapability] = board.mtrr_variable_pairs | 1u << 8 | 1u << 10;
  msrs[kMtrrDefaultType] = 0xC06;  // enabled, fixed ranges enabled, write-back
  if (board.tme_keyid_bits > 0) msrs[kTmeActivate] = 0x3ull | uint64_t(board.tme_keyid_bits) << 32;
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
  machine.impl().cr3_just_reloaded = false;
  auto& msrs = machine.impl().msrs;
  auto found = msrs.find(index);
  if (found == msrs.end()) {
    sim::RecordFault(machine, "rdmsr " + sim::Hex(index) + ": no such register");
    return 0;
  }
  return found->second;
}

// A faulting write is still applied, so a run goes on as far as it can and
// the report names every fault.
void WriteMsr(uint32_t index, uint64_t value) {
  Machine& machine = CurrentMachine();
  machine.impl().cr3_just_reloaded = false;
  machine.report().msr_writes.emplace_back(index, value);
  auto& msrs = machine.impl().msrs;
  if (msrs.find(index) == msrs.end()) {
    sim::RecordFault(machine, "wrmsr " + sim::Hex(index) + ": no such register");
  } else if (sim::IsVariableMtrr(machine.board(), index)) {
    std::string fault = sim::VariableMtrrWriteFault(machine.board(), index, value);
    if (!fault.empty()) sim::RecordFault(machine, "wrmsr " + sim::Hex(index) + ": " + fault);
  }
  msrs[index] = value;
}

void ReloadCr3() {
  ++CurrentMachine().report().cr3_reloads;
  CurrentMachine().impl().cr3_just_reloaded = true;
}

void WriteBackInvalidateCaches() {
  Machine& machine = CurrentMachine();
  ++machine.report().cache_flushes;
  if (machine.impl().cr3_just_reloaded) ++machine.report().cache_flushes_after_cr3;
  machine.impl().cr3_just_reloaded = false;
}

CpuidResult Cpuid(uint32_t leaf, uint32_t subleaf) {
  const sim::Board& board = CurrentMachine().board();
  constexpr uint32_t kTmeSupported = 1u << 13;
  if (leaf == 0) return {0x16, 0, 0, 0};
  if (leaf == 7 && subleaf == 0) return {0, 0, board.tme_keyid_bits > 0 ? kTmeSupported : 0, 0};
  if (leaf == 0x80000000) return {0x80000008, 0, 0, 0};
  if (leaf == 0x80000008) return {board.phys_address_bits | 48u << 8, 0, 0, 0};
  return {0, 0, 0, 0};
}

void ReadFlashWindow(uint32_t address, void* destination, uint32_t count) {
  Machine& machine = CurrentMachine();
  if (count != 0 && address < kFlashDecodeFloor) {
    ++machine.report().mmio_reads;
    ++sim::ProcessHazardTotals().mmio_reads;
  }
  sim::ModelReadWindow(machine.model(), address, destination, count);
}

uint32_t ReadFlashWindow32(uint32_t address) {
  uint32_t value = 0;
  ReadFlashWindow(address, &value, sizeof value);
  return value;
}
