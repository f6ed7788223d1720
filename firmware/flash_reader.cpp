// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/flash_reader.h"

#include "firmware/tool_state.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/mailbox.h"
#include "runtime/efi_globals.h"
#include "runtime/memory.h"
#include "runtime/print.h"

namespace {

constexpr uint64_t kPageSize = 4096;

// One size of the geometry; while it is 0 the mailbox is asked once for all
// three (so up to three queries when every answer is missing).
uint32_t SizeOnFirstUse(FlashGeometry* geometry, uint32_t FlashGeometry::*size) {
  if (geometry->*size == 0) QueryFlashMailbox(nullptr, &geometry->FlashSize, &geometry->BiosSize, &geometry->BlockSize);
  return geometry->*size;
}

// Where flash offset `offset` lies when the whole part is mapped to end at
// 4 GiB (32-bit wrap-around).
uint32_t WindowAddressOf(uint32_t offset, uint32_t flashSize) { return offset - flashSize; }

// The lowest window address a block may be copied from: the window shows the
// BIOS region only, and only the top 16 MiB of it decode to flash. Blocks
// below come through the mailbox.
uint32_t WindowFloor(uint32_t biosSize) {
  uint32_t biosBase = 0u - biosSize;
  return biosBase > kFlashDecodeFloor ? biosBase : kFlashDecodeFloor;
}

void PrintProgress(const char* caption, uint64_t blocksDone, uint32_t blockSize, uint32_t length) {
  if (caption == nullptr) return;
  Print("%c%s%d%%", kCarriageReturn, caption, ProgressPercent(blocksDone * blockSize, length));
}

// The mailbox carries only 32 bits of the destination address. A destination
// that reaches past 4 GiB is read through a page buffer below 4 GiB, taken the
// first time one is needed.
struct LowBounceBuffer {
  EFI_PHYSICAL_ADDRESS address = 0;
  UINTN pages = 0;
};

void* BounceFor(LowBounceBuffer* bounce, uint32_t blockSize) {
  if (bounce->pages == 0) {
    UINTN pages = (blockSize + kPageSize - 1) / kPageSize;
    EFI_PHYSICAL_ADDRESS address = kFourGiB - 1;
    if (EfiError(gBS->AllocatePages(AllocateMaxAddress, EfiBootServicesData, pages, &address))) return nullptr;
    bounce->address = address;
    bounce->pages = pages;
  }
  return reinterpret_cast<void*>(static_cast<uintptr_t>(bounce->address));
}

bool ReadThroughMailbox(uint32_t address, uint32_t blockSize, uint8_t* destination, LowBounceBuffer* bounce) {
  if (blockSize == 0) return true;
  uint64_t end = reinterpret_cast<uintptr_t>(destination) + static_cast<uint64_t>(blockSize);
  uint8_t* target = destination;
  if (end > kFourGiB) {
    target = static_cast<uint8_t*>(BounceFor(bounce, blockSize));
    // Without a low buffer the block is skipped, as any unsendable request is.
    if (target == nullptr) return false;
  }
  bool sent = SendMailboxCommand(MailboxCommand::BeginRead);
  sent = SendReadBlock(address, blockSize, target) && sent;
  sent = SendMailboxCommand(MailboxCommand::EndRead) && sent;
  if (target != destination) memcpy(destination, target, blockSize);
  return sent;
}

void ReadFromWindow(uint32_t address, uint32_t blockSize, uint8_t* destination) {
  // The window ends at 4 GiB: a block that would run past the top is copied
  // only up to it.
  uint64_t room = kFourGiB - address;
  uint32_t count = room < blockSize ? static_cast<uint32_t>(room) : blockSize;
  ReadFlashWindow(address, destination, count);
}

}  // namespace

bool CompleteReaderGeometry(FlashGeometry* geometry) {
  uint32_t block = SizeOnFirstUse(geometry, &FlashGeometry::BlockSize);
  uint32_t flash = SizeOnFirstUse(geometry, &FlashGeometry::FlashSize);
  uint32_t bios = SizeOnFirstUse(geometry, &FlashGeometry::BiosSize);
  return block != 0 && flash != 0 && bios != 0;
}

EFI_STATUS ReadFlashRegion(void* destination, uint32_t start, uint32_t length, const char* caption) {
  return ReadFlashRegionInto(destination, ~0ull, start, length, caption);
}

EFI_STATUS ReadFlashRegionInto(void* destination, uint64_t capacity, uint32_t start, uint32_t length,
                               const char* caption) {
  if (!CompleteReaderGeometry(&gTool.ReaderGeometry)) return kEfiUnsupported;
  return ReadFlashRegionWith(gTool.ReaderGeometry, destination, capacity, start, length, caption);
}

EFI_STATUS ReadFlashRegionWith(const FlashGeometry& geometry, void* destination, uint64_t capacity, uint32_t start,
                               uint32_t length, const char* caption) {
  const uint32_t block = geometry.BlockSize;
  const uint32_t flash = geometry.FlashSize;
  if (block == 0 || flash == 0 || geometry.BiosSize == 0) return kEfiUnsupported;

  uint32_t mask = ~(block - 1);
  uint32_t alignedStart = start & mask;
  uint32_t windowFloor = WindowFloor(geometry.BiosSize);
  auto* bytes = static_cast<uint8_t*>(destination);
  LowBounceBuffer bounce;
  bool complete = true;
  uint64_t blocksDone = 0;
  for (uint64_t offset = 0; offset < length; offset += block) {
    uint32_t address = WindowAddressOf(alignedStart + (static_cast<uint32_t>(offset) & mask), flash);
    // No transfer writes past the destination, whatever the block size.
    uint64_t room = offset < capacity ? capacity - offset : 0;
    uint32_t count = room < block ? static_cast<uint32_t>(room) : block;
    if (address >= windowFloor)
      ReadFromWindow(address, count, bytes + offset);
    else
      complete = ReadThroughMailbox(address, count, bytes + offset, &bounce) && complete;
    PrintProgress(caption, ++blocksDone, block, length);
  }
  if (bounce.pages != 0) gBS->FreePages(bounce.address, bounce.pages);
  if (caption != nullptr) Print("\n");
  return complete ? kEfiSuccess : kEfiDeviceError;
}
