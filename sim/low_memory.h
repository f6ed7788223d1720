// Simulated firmware memory: every block lies below 4 GiB, as pool memory on
// the boards does, so that 32-bit mailbox destinations are real addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace sim {

class LowMemory {
 public:
  ~LowMemory();
  void* Allocate(size_t size);
  // False when `block` is not a live block of this memory.
  bool Release(void* block);
  // True when [address, address + size) lies inside one live block.
  bool Contains(uintptr_t address, size_t size) const;
  size_t live_blocks() const { return blocks_.size(); }

 private:
  struct Block {
    size_t mapped;
    size_t requested;
  };
  std::map<uintptr_t, Block> blocks_;
};

}  // namespace sim
