// SPDX-License-Identifier: BSD-2-Clause-Patent
// Simulated firmware memory: every block lies below 4 GiB, as pool memory on
// the boards does, so that 32-bit mailbox destinations are real addresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace sim {

// One-page blocks, which the program takes and releases for every mailbox
// request, are kept for reuse instead of being unmapped: a released page is
// filled with a poison byte, and the poison is checked when the page is handed
// out again, so a write after release is still caught. Only the bytes the
// last owner asked for are poisoned: a mailbox request takes 112 of 4096.
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
  struct ReleasedPage {
    void* page;
    size_t poisoned;
  };
  std::vector<ReleasedPage> releasedPages_;
};

}  // namespace sim
