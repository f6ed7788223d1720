// SPDX-License-Identifier: BSD-2-Clause-Patent
// The behaviour of the simulated dual-chip board: chip select, the SMI flash
// handler and the flash window. Plain structs and free functions with no
// library underneath, so that the same model runs behind pellrix-sim on the
// host and inside the virtual-board firmware driver.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "record/board_vocabulary.h"

namespace sim {

using ::MailboxMode;
using ::SwitchMode;

struct ModelChip {
  // The part's bytes, offset 0 first; reads past them give 0xFF, so an
  // erased part needs no bytes at all (null, 0).
  const uint8_t* image;
  uint64_t image_size;
  uint32_t flash_size;    // reported by the mailbox
  uint32_t bios_size;     // reported by the mailbox
  uint32_t block_size;    // reported by the mailbox
  uint32_t window_bytes;  // top bytes of the part mapped in the window
  char part_name[48];
};

struct SmiCounts {
  uint64_t query = 0;
  uint64_t read_block = 0;
  uint64_t begin_read = 0;
  uint64_t end_read = 0;
};

// What the board saw, for the run report and for tests.
struct BoardEvents {
  SmiCounts smi;
  uint64_t is_supported_calls = 0;
  uint64_t dma_faults = 0;             // mailbox copies to memory the program does not own
  uint64_t port_writes_elsewhere = 0;  // SMI triggers written to another port than the board's
  uint64_t window_overruns = 0;        // window reads asked to run past 4 GiB
};

struct BoardModel {
  ModelChip chips[2];  // Main, Backup
  uint8_t active;      // raw position; Backup answers while it is 1
  uint8_t is_supported;
  SwitchMode switch_mode;
  MailboxMode mailbox;
  uint64_t mailbox_answer;  // when not 0, the handshake answers this
  uint16_t smi_port;
  BoardEvents* events;
  // Where the mailbox may copy to; null allows everything.
  bool (*dma_allowed)(void* context, uint64_t address, uint32_t count);
  void* dma_context;
  // Told of every chip request, before it takes effect; may be null.
  void (*switch_requested)(void* context, uint8_t chip);
  void* switch_context;
};

const ModelChip& ActiveModelChip(const BoardModel& model);

uint8_t ModelIsSupported(BoardModel& model);
void ModelSetActiveChip(BoardModel& model, uint8_t chip);

// A write of `commandByte` to I/O port `port` with the mailbox at `buffer`.
void ModelTakeSmi(BoardModel& model, uint16_t port, uint8_t commandByte, void* buffer);

// The window as the processor sees it: the active chip's top bytes end at
// 4 GiB, everything below them reads as erased.
void ModelReadWindow(BoardModel& model, uint32_t address, void* destination, uint32_t count);

}  // namespace sim
