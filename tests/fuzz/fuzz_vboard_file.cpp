// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: VBOARD.BIN as the virtual-board driver takes it. The
// input is the header, then the Main and Backup image bytes in turn (as many
// as each record claims, erased where the input runs out), then mailbox
// requests of 16 bytes each. A header the checks accept must run the board
// model through queries, reads and window reads without a fault.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <vector>

#include "firmware/cpu/flash_window.h"
#include "firmware/flash_mailbox.h"
#include "sim/board_model.h"
#include "sim/vboard/vboard_check.h"
#include "sim/vboard/vboard_file.h"

namespace {

// Larger images stand for ones the driver's AllocatePool would refuse.
constexpr uint64_t kLargestImage = 1u << 20;
constexpr size_t kDestinationBytes = 0x4000;

struct Input {
  const uint8_t* data;
  size_t size;
  template <typename T>
  bool Take(T* value) {
    if (size < sizeof *value) return false;
    memcpy(value, data, sizeof *value);
    data += sizeof *value;
    size -= sizeof *value;
    return true;
  }
};

// Mailbox addresses are 32 bits wide: the read target lies below 4 GiB, with
// an inaccessible page right after it so a copy past its end faults.
uint8_t* LowTarget() {
  static uint8_t* target = [] {
    void* mapping =
        mmap(nullptr, kDestinationBytes + 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (mapping == MAP_FAILED) abort();
    auto* bytes = static_cast<uint8_t*>(mapping);
    if (mprotect(bytes + kDestinationBytes, 4096, PROT_NONE) != 0) abort();
    return bytes;
  }();
  return target;
}

uint8_t* destination = nullptr;

// The fuzzer's memory is the only memory a request may name; the driver's
// own check comes first, as in the firmware.
bool DestinationAllowed(void* context, uint64_t address, uint32_t count) {
  const auto* board = static_cast<const sim::BoardModel*>(context);
  if (!vboard::MailboxDestinationAllowed(*board, address, count)) return false;
  const uint64_t start = reinterpret_cast<uintptr_t>(destination);
  return address >= start && address + count <= start + kDestinationBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input{data, size};
  vboard::BoardFile header;
  if (!input.Take(&header) || vboard::BoardFileProblem(header) != nullptr) return 0;
  std::vector<uint8_t> images[2];
  for (int i = 0; i < 2; ++i) {
    if (header.chips[i].image_size > kLargestImage) return 0;
    images[i].assign(header.chips[i].image_size, 0xFF);
    const size_t given = input.size < images[i].size() ? input.size : images[i].size();
    if (given != 0) memcpy(images[i].data(), input.data, given);
    input.data += given;
    input.size -= given;
  }
  static sim::BoardEvents events;
  sim::BoardModel board{};
  for (int i = 0; i < 2; ++i) {
    const vboard::ChipRecord& record = header.chips[i];
    board.chips[i] = {images[i].empty() ? nullptr : images[i].data(),
                      record.image_size,
                      record.flash_size,
                      record.bios_size,
                      record.block_size,
                      record.window_bytes,
                      {}};
    memcpy(board.chips[i].part_name, record.part_name, sizeof record.part_name);
  }
  vboard::SetModesFromBoardFile(header, &board);
  board.events = &events;
  board.dma_allowed = DestinationAllowed;
  board.dma_context = &board;

  std::vector<uint8_t> window(kDestinationBytes);
  destination = LowTarget();
  uint32_t request[4];  // command and chip, address, length, destination offset
  while (input.Take(&request)) {
    sim::ModelSetActiveChip(board, uint8_t(request[0] >> 8));
    FlashMailbox mailbox{};
    mailbox.Signature = (request[0] & 1) ? kHandshakeSignature : kSignatureQvt;
    mailbox.Command = request[0] & 2 ? uint32_t(MailboxCommand::ReadBlock) : uint32_t(MailboxCommand::Query);
    mailbox.Arg0 = request[1];
    mailbox.Arg1 = request[2] % (kDestinationBytes + 1);
    mailbox.Arg2 = uint32_t(reinterpret_cast<uintptr_t>(destination) + request[3] % kDestinationBytes);
    sim::ModelTakeSmi(board, board.smi_port, kSmiFlashCommandByte, &mailbox);
    // The window: any address of the top 16 MiB, as much as fits below 4 GiB.
    const uint32_t address = kFlashDecodeFloor | (request[1] & 0x00FFFFFF);
    const uint64_t room = kFourGiB - address;
    sim::ModelReadWindow(board, address, window.data(), uint32_t(room < kDestinationBytes ? room : kDestinationBytes));
  }
  return 0;
}
