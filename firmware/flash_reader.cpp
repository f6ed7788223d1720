#include "firmware/flash_reader.h"

#include "firmware/tool_state.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/mailbox.h"
#include "runtime/efi_globals.h"
#include "runtime/memory.h"
#include "runtime/print.h"

namespace {

constexpr uint64_t kPageSize = 4096;

// Takes one size of the reader's geometry, asking the mailbox while it is 0.
uint32_t TakeReaderSize(const uint32_t* field) {
  if (*field == 0) {
    FlashGeometry& geometry = gTool.ReaderGeometry;
    QueryFlashMailbox(nullptr, &geometry.FlashSize, &geometry.BiosSize, &geometry.BlockSize);
  }
  return *field;
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

EFI_STATUS ReadFlashRegion(void* destination, uint32_t start, uint32_t length, const char* caption) {
  return ReadFlashRegionInto(destination, ~0ull, start, length, caption);
}

EFI_STATUS ReadFlashRegionInto(void* destination, uint64_t capacity, uint32_t start, uint32_t length,
                               const char* caption) {
  const FlashGeometry& geometry = gTool.ReaderGeometry;
  uint32_t blockSize = TakeReaderSize(&geometry.BlockSize);
  uint32_t flashSize = TakeReaderSize(&geometry.FlashSize);
  uint32_t biosSize = TakeReaderSize(&geometry.BiosSize);
  if (blockSize == 0 || flashSize == 0 || biosSize == 0) return kEfiUnsupported;

  uint32_t mask = ~(blockSize - 1);
  uint32_t alignedStart = start & mask;
  uint32_t biosBase = 0u - biosSize;
  // A block comes from the window only when all of it lies in the BIOS
  // region and in the flash decode; every other block through the mailbox.
  uint32_t windowFloor = biosBase > kFlashDecodeFloor ? biosBase : kFlashDecodeFloor;
  auto* bytes = static_cast<uint8_t*>(destination);
  LowBounceBuffer bounce;
  bool complete = true;
  uint64_t handled = 0;
  for (uint64_t offset = 0; offset < length; offset += blockSize) {
    uint32_t address = alignedStart + (static_cast<uint32_t>(offset) & mask) - flashSize;
    uint64_t room = offset < capacity ? capacity - offset : 0;
    uint32_t count = room < blockSize ? static_cast<uint32_t>(room) : blockSize;
    if (address >= windowFloor)
      ReadFromWindow(address, count, bytes + offset);
    else
      complete = ReadThroughMailbox(address, count, bytes + offset, &bounce) && complete;
    ++handled;
    if (caption != nullptr) {
      uint64_t percent = handled * blockSize * 100 / length;
      Print("%c%s%d%%", 13, caption, static_cast<int>(percent));
    }
  }
  if (bounce.pages != 0) gBS->FreePages(bounce.address, bounce.pages);
  if (caption != nullptr) Print("\n");
  return complete ? kEfiSuccess : kEfiDeviceError;
}
