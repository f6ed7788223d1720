// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/machine.h"

#include <cstdlib>

#include "runtime/efi_globals.h"
#include "sim/firmware_services.h"
#include "sim/machine_impl.h"

namespace sim {

void InitCpu(Machine& machine);

namespace {
Machine* installed = nullptr;
}

Machine::Machine(Board board, std::string directory)
    : board_(std::move(board)), directory_(std::move(directory)), impl_(std::make_unique<Impl>()) {
  if (installed != nullptr) std::abort();  // one simulated machine at a time
  installed = this;
  model_.active = board_.active;
  BuildFirmware(*this);
  InitCpu(*this);
  gST = SystemTableOf(*this);
  gBS = gST->BootServices;
  gImageHandle = this;
}

Machine::~Machine() {
  gST = nullptr;
  gBS = nullptr;
  gImageHandle = nullptr;
  installed = nullptr;
}

Machine& CurrentMachine() {
  if (installed == nullptr) std::abort();
  return *installed;
}

namespace {

bool DmaAllowed(void* context, uint64_t address, uint32_t count) {
  auto* impl = static_cast<Machine::Impl*>(context);
  return impl->pool.Contains(address, count) || impl->pages.Contains(address, count);
}

void RecordSwitchRequest(void* context, uint8_t chip) {
  static_cast<Report*>(context)->switch_requests.push_back(chip);
}

ModelChip ModelOf(const Chip& chip) {
  ModelChip model{};
  model.image = chip.data();
  model.image_size = chip.size();
  model.flash_size = chip.flash_size;
  model.bios_size = chip.bios_size;
  model.block_size = chip.block_size;
  model.window_bytes = chip.window_bytes.value_or(chip.bios_size);
  for (size_t i = 0; i < sizeof model.part_name && i < chip.part_name.size(); ++i)
    model.part_name[i] = chip.part_name[i];
  return model;
}

}  // namespace

BoardModel& Machine::model() {
  model_.chips[0] = ModelOf(board_.main);
  model_.chips[1] = ModelOf(board_.backup);
  model_.is_supported = board_.chip_select == ChipSelectMode::Unsupported ? 0 : board_.is_supported_value;
  model_.switch_mode = static_cast<SwitchMode>(board_.switch_mode);
  model_.mailbox = static_cast<MailboxMode>(board_.mailbox);
  model_.mailbox_answer = board_.mailbox_answer;
  model_.smi_port = board_.smi_port;
  model_.events = &report_;
  model_.dma_allowed = DmaAllowed;
  model_.dma_context = impl_.get();
  model_.switch_requested = RecordSwitchRequest;
  model_.switch_context = &report_;
  return model_;
}

void Machine::AppendConsole(const char* text, size_t length) {
  // Echoed text is not kept as well: pellrix-sim streams it and reads none back.
  if (echo_)
    echo_(text, length);
  else
    console_.append(text, length);
}

HazardTotals& ProcessHazardTotals() {
  static HazardTotals totals;
  return totals;
}

uint64_t Machine::msr(uint32_t index) const {
  auto found = impl_->msrs.find(index);
  return found == impl_->msrs.end() ? 0 : found->second;
}

}  // namespace sim
