// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/image_test_support.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace image_test {

GuardedBuffer::GuardedBuffer(size_t size) : size_(size) {
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t body = (size + page - 1) / page * page;
  mapping_size_ = body + 2 * page;
  void* m = mmap(nullptr, mapping_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) throw std::runtime_error("mmap failed");
  mapping_ = static_cast<uint8_t*>(m);
  if (body != 0 && mprotect(mapping_ + page, body, PROT_READ | PROT_WRITE) != 0)
    throw std::runtime_error("mprotect failed");
  data_ = mapping_ + page + (body - size);
  std::memset(data_, 0xFF, size_);
}

GuardedBuffer::GuardedBuffer(const std::vector<uint8_t>& bytes) : GuardedBuffer(bytes.size()) {
  std::memcpy(data_, bytes.data(), bytes.size());
}

GuardedBuffer::~GuardedBuffer() { munmap(mapping_, mapping_size_); }

sim::Bytes DescriptorVolume(const sim::DescriptorSpec& spec, uint64_t length, size_t* descriptor_offset,
                            std::vector<sim::Bytes> before, std::vector<sim::Bytes> after) {
  sim::VolumeSpec volume;
  volume.length = length;
  volume.files = std::move(before);
  const size_t index = volume.files.size();
  volume.files.push_back(sim::BuildDescriptorFile(spec));
  for (auto& f : after) volume.files.push_back(std::move(f));
  std::vector<size_t> offsets;
  sim::Bytes bytes = sim::BuildVolume(volume, &offsets);
  if (descriptor_offset) *descriptor_offset = offsets[index] + sim::kDescriptorInFile;
  return bytes;
}

sim::Bytes ModuleFile(uint32_t seed, size_t body_size, bool checksummed) {
  sim::FileSpec file;
  file.name = sim::MakeGuid(0xA0000000u + seed, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, uint8_t(seed)});
  file.checksummed = checksummed;
  file.body = sim::PseudoRandomBytes(body_size, seed);
  return sim::BuildFile(file);
}

void ExpectNotFoundRecord(const BiosInfo& info) {
  EXPECT_EQ(+info.Found, 0);
  EXPECT_EQ(+info.Descriptor, nullptr);
  EXPECT_EQ(+info.AreaTable, nullptr);
  EXPECT_EQ(+info.Volume, nullptr);
  EXPECT_EQ(+info.ChecksumTableRev100, nullptr);
  EXPECT_EQ(+info.ChecksumTableOther, nullptr);
  EXPECT_EQ(+info.AuxByte3, 0);
  EXPECT_EQ(+info.FlashSize, 0u);
  EXPECT_EQ(+info.BiosSize, 0u);
  EXPECT_EQ(+info.BlockSize, 0u);  // no 4096 floor when nothing was found
  EXPECT_EQ(+info.HasBiosOffset, 0);
  EXPECT_EQ(+info.BiosOffset, 0u);
}

}  // namespace image_test
