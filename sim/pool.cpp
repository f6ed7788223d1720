#include "sim/pool.h"

#include <sys/mman.h>

namespace sim {

namespace {
constexpr size_t kPage = 4096;
}

LowMemory::~LowMemory() {
  for (auto& [start, block] : blocks_) munmap(reinterpret_cast<void*>(start), block.mapped);
}

void* LowMemory::Allocate(size_t size) {
  size_t length = (size + kPage - 1) / kPage * kPage;
  if (length == 0) length = kPage;
  // MAP_32BIT keeps the block in the low 2 GiB.
  // Populated at once: the program touches every byte it asks for, and one
  // populate is far cheaper than a fault per page.
  void* block = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT | MAP_POPULATE, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  blocks_[reinterpret_cast<uintptr_t>(block)] = Block{length, size};
  return block;
}

bool LowMemory::Release(void* block) {
  auto found = blocks_.find(reinterpret_cast<uintptr_t>(block));
  if (found == blocks_.end()) return false;
  munmap(block, found->second.mapped);
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
