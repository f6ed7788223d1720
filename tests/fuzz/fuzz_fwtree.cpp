// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the firmware tree over one arbitrary image, through
// every encapsulation it opens, the Intel flash descriptor reader and the
// variable store reader on every non-volatile data volume. What they report
// must lie inside the image or inside the bytes the tree decompressed,
// within the limits they were given.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fwtree/firmware_tree.h"
#include "fwtree/flash_descriptor.h"
#include "fwtree/variable_store.h"

namespace {

bool Inside(const uint8_t* begin, uint64_t size, const uint8_t* p, uint64_t count) {
  return p >= begin && p <= begin + size && count <= uint64_t(begin + size - p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly sized, so that the sanitizer sees any access past the end.
  uint8_t* image = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  std::memcpy(image, data, size);
  fwtree::TreeLimits limits;
  limits.budget = 16u << 20;
  limits.maxDepth = 8;
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(image, size, limits);
  if (tree.decodedBytes > limits.budget) __builtin_trap();
  for (const fwtree::TreeFile& file : tree.files) {
    bool held = file.offset ? file.bytes == image + *file.offset && Inside(image, size, file.bytes, file.size) : false;
    for (const std::vector<uint8_t>& decoded : tree.decoded)
      held = held || (!file.offset && Inside(decoded.data(), decoded.size(), file.bytes, file.size));
    if (!held || file.path.empty() || file.volume < 0 || size_t(file.volume) >= tree.volumes.size()) __builtin_trap();
    // A file comes after the file that holds it, two path steps deeper.
    const int index = int(&file - tree.files.data());
    if (file.parentFile >= index) __builtin_trap();
    if (file.parentFile >= 0 && file.path.size() < tree.files[size_t(file.parentFile)].path.size() + 2)
      __builtin_trap();
  }
  for (const fwtree::TreeVolume& volume : tree.volumes) {
    if (volume.fileSystem != fwtree::kSystemNvDataFileSystem || !volume.offset) continue;
    // Its own exactly sized copy: a read past the volume is seen too.
    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(volume.length ? volume.length : 1));
    std::memcpy(bytes, image + *volume.offset, volume.length);
    const fwtree::VariableStore store = fwtree::ReadVariableStore(bytes, volume.length);
    if (store.variables.size() > fwtree::kMaxStoredVariables) __builtin_trap();
    for (const fwtree::StoredVariable& variable : store.variables)
      if (!Inside(bytes + store.store.offset, store.store.length, variable.data, variable.dataSize)) __builtin_trap();
    for (const auto& area : {store.workingBlock, store.spare})
      if (area && (area->offset > volume.length || area->length > volume.length - area->offset)) __builtin_trap();
    std::free(bytes);
  }
  if (const auto descriptor = fwtree::ReadFlashDescriptor(image, size))
    for (const fwtree::FlashRegion& region : descriptor->regions)
      if (region.length == 0 || region.base % 4096 != 0) __builtin_trap();
  std::free(image);
  return 0;
}
