// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_model.h"

#include "firmware/cpu/flash_window.h"
#include "firmware/flash_mailbox.h"
#include "runtime/memory.h"

namespace sim {

namespace {

uint64_t Smaller(uint64_t a, uint64_t b) { return a < b ? a : b; }

// Part bytes [offset, offset + count); bytes past the part read as erased.
void CopyFromPart(const ModelChip& chip, uint64_t offset, uint8_t* destination, uint64_t count) {
  memset(destination, 0xFF, count);
  if (offset >= chip.image_size) return;
  memcpy(destination, chip.image + offset, Smaller(count, chip.image_size - offset));
}

void AnswerQuery(BoardModel& model, FlashMailbox* mailbox) {
  if (mailbox->Signature != kHandshakeSignature) return;
  const ModelChip& chip = ActiveModelChip(model);
  mailbox->Answer = model.mailbox == MailboxMode::Qvt ? kAnswerQvt : kAnswerQv1;
  if (model.mailbox_answer != 0) mailbox->Answer = model.mailbox_answer;
  mailbox->Arg0 = chip.bios_size;
  mailbox->Arg1 = chip.block_size;
  mailbox->Arg2 = chip.flash_size;
  memcpy(mailbox->PartInfo, "SIMPART0", sizeof mailbox->PartInfo);
  memcpy(mailbox->PartName, chip.part_name, sizeof mailbox->PartName);
}

void AnswerReadBlock(BoardModel& model, FlashMailbox* mailbox) {
  const ModelChip& chip = ActiveModelChip(model);
  uint64_t destination = mailbox->Arg2;
  uint32_t count = mailbox->Arg1;
  if (model.dma_allowed != nullptr && !model.dma_allowed(model.dma_context, destination, count)) {
    ++model.events->dma_faults;
    return;
  }
  uint32_t offset = mailbox->Arg0 - static_cast<uint32_t>(kFourGiB - chip.flash_size);
  CopyFromPart(chip, offset, reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(destination)), count);
}

void CountSmi(SmiCounts& smi, uint32_t command) {
  switch (static_cast<MailboxCommand>(command)) {
    case MailboxCommand::Query: ++smi.query; break;
    case MailboxCommand::ReadBlock: ++smi.read_block; break;
    case MailboxCommand::BeginRead: ++smi.begin_read; break;
    case MailboxCommand::EndRead: ++smi.end_read; break;
  }
}

}  // namespace

const ModelChip& ActiveModelChip(const BoardModel& model) { return model.chips[model.active == 1 ? 1 : 0]; }

uint8_t ModelIsSupported(BoardModel& model) {
  ++model.events->is_supported_calls;
  return model.is_supported;
}

void ModelSetActiveChip(BoardModel& model, uint8_t chip) {
  if (model.switch_requested != nullptr) model.switch_requested(model.switch_context, chip);
  switch (model.switch_mode) {
    case SwitchMode::Ok: break;
    case SwitchMode::Stuck: return;
    case SwitchMode::IgnoreMain:
      if (chip == 0) return;
      break;
    case SwitchMode::IgnoreBackup:
      if (chip == 1) return;
      break;
  }
  model.active = chip;
}

void ModelTakeSmi(BoardModel& model, uint16_t port, uint8_t commandByte, void* buffer) {
  if (port != model.smi_port) {
    ++model.events->port_writes_elsewhere;
    return;
  }
  auto* mailbox = static_cast<FlashMailbox*>(buffer);
  CountSmi(model.events->smi, mailbox->Command);
  if (model.mailbox == MailboxMode::None || commandByte != kSmiFlashCommandByte) return;
  uint32_t agreed = model.mailbox == MailboxMode::Qvt ? kSignatureQvt : kSignatureQv1;
  switch (static_cast<MailboxCommand>(mailbox->Command)) {
    case MailboxCommand::Query: AnswerQuery(model, mailbox); break;
    case MailboxCommand::ReadBlock:
      if (mailbox->Signature == agreed) AnswerReadBlock(model, mailbox);
      break;
    default: break;
  }
}

void ModelReadWindow(BoardModel& model, uint32_t address, void* destination, uint32_t count) {
  const ModelChip& chip = ActiveModelChip(model);
  uint64_t start = address;
  if (start + count > kFourGiB) ++model.events->window_overruns;
  uint64_t end = Smaller(start + count, kFourGiB);
  auto* bytes = static_cast<uint8_t*>(destination);
  memset(bytes, 0xFF, end - start);
  uint64_t mappedBase = kFourGiB - Smaller(chip.window_bytes, chip.image_size);
  uint64_t from = start > mappedBase ? start : mappedBase;
  if (from >= end) return;
  uint64_t partOffset = chip.image_size - (kFourGiB - from);
  memcpy(bytes + (from - start), chip.image + partOffset, end - from);
}

}  // namespace sim
