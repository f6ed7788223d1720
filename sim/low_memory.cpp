// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/low_memory.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace sim {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kHugePage = 2u << 20;

size_t RoundUp(size_t size, size_t unit) { return (size + unit - 1) / unit * unit; }

// Image-sized blocks are placed on 2 MiB boundaries and backed by huge pages:
// the program touches every byte of them at once, and populating a few huge
// pages costs far less than faulting in thousands of small ones.
void* MapLarge(size_t length) {
  size_t span = length + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  uintptr_t start = RoundUp(reinterpret_cast<uintptr_t>(raw), kHugePage);
  uintptr_t head = start - reinterpret_cast<uintptr_t>(raw);
  if (head != 0) munmap(raw, head);
  if (span - head - length != 0) munmap(reinterpret_cast<void*>(start + length), span - head - length);
  void* block = reinterpret_cast<void*>(start);
  madvise(block, length, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  madvise(block, length, MADV_POPULATE_WRITE);
#endif
  return block;
}

void* MapSmall(size_t length) {
  void* block = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

constexpr uint8_t kPoison = 0xDB;
constexpr size_t kMostKeptPages = 64;

// A released page whose poison was overwritten was written after release.
void CheckPoison(const void* page, size_t poisoned) {
  const auto* bytes = static_cast<const uint8_t*>(page);
  for (size_t i = 0; i < poisoned; ++i) {
    if (bytes[i] != kPoison) {
      std::fprintf(stderr, "pellrix-sim: pool page %p written at offset %zu after its release\n", page, i);
      std::abort();
    }
  }
}

}  // namespace

LowMemory::~LowMemory() {
  for (auto& [start, block] : blocks_) munmap(reinterpret_cast<void*>(start), block.mapped);
  for (const ReleasedPage& released : releasedPages_) munmap(released.page, kPage);
}

void* LowMemory::Allocate(size_t size) {
  // MAP_32BIT keeps every block in the low 2 GiB.
  bool large = size >= kHugePage;
  size_t length = large ? RoundUp(size, kHugePage) : RoundUp(size == 0 ? 1 : size, kPage);
  void* block = nullptr;
  if (length == kPage && !releasedPages_.empty()) {
    ReleasedPage released = releasedPages_.back();
    releasedPages_.pop_back();
    CheckPoison(released.page, released.poisoned);
    block = released.page;
  } else {
    block = large ? MapLarge(length) : MapSmall(length);
  }
  if (block == nullptr) return nullptr;
  blocks_[reinterpret_cast<uintptr_t>(block)] = Block{length, size};
  return block;
}

bool LowMemory::Release(void* block) {
  auto found = blocks_.find(reinterpret_cast<uintptr_t>(block));
  if (found == blocks_.end()) return false;
  if (found->second.mapped == kPage && releasedPages_.size() < kMostKeptPages) {
    size_t poisoned = found->second.requested == 0 ? 1 : found->second.requested;
    std::memset(block, kPoison, poisoned);
    releasedPages_.push_back(ReleasedPage{block, poisoned});
  } else {
    munmap(block, found->second.mapped);
  }
  blocks_.erase(found);
  return true;
}

bool LowMemory::Contains(uintptr_t address, size_t size) const {
  auto after = blocks_.upper_bound(address);
  if (after == blocks_.begin()) return false;
  auto block = std::prev(after);
  return address >= block->first && address + size <= block->first + block->second.requested;
}

}  // namespace sim
