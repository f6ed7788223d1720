// SPDX-License-Identifier: BSD-2-Clause-Patent
// Shared helpers for the image-analysis tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/bios_info.h"
#include "sim/image_builder.h"

namespace image_test {

// A buffer that ends exactly where an inaccessible page begins and starts
// right after another one, so that any read or write outside it faults even
// without a sanitizer.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size);
  explicit GuardedBuffer(const std::vector<uint8_t>& bytes);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  uint8_t* data() { return data_; }
  size_t size() const { return size_; }
  uint8_t* end() { return data_ + size_; }
  std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(data_, data_ + size_); }

 private:
  uint8_t* mapping_ = nullptr;
  size_t mapping_size_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A zeroed record for an image, as the callers prepare it.
inline BiosInfo InfoFor(uint8_t* image, uint64_t size) {
  BiosInfo info;
  std::memset(&info, 0, sizeof info);
  info.Image = image;
  info.ImageSize = size;
  return info;
}

// Every field a search that found nothing writes holds its not-found value:
// no pointers, no sizes, no BIOS offset. The texts are not looked at.
void ExpectNotFoundRecord(const BiosInfo& info);

inline sim::DescriptorSpec NamedDescriptor(const std::string& model) {
  sim::DescriptorSpec spec;
  spec.model_name = model;
  return spec;
}

// A volume of `length` bytes whose files are `before`, then the descriptor
// file, then `after`. `descriptor_offset` receives the descriptor's offset
// from the volume start.
sim::Bytes DescriptorVolume(const sim::DescriptorSpec& spec, uint64_t length, size_t* descriptor_offset = nullptr,
                            std::vector<sim::Bytes> before = {}, std::vector<sim::Bytes> after = {});

// A checksummed module file with `body_size` pseudo-random body bytes.
sim::Bytes ModuleFile(uint32_t seed, size_t body_size, bool checksummed = true);

}  // namespace image_test
