// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/checksums.h"

#include "image/layout.h"

using namespace image_layout;

namespace {

constexpr uint8_t RotateByteRight(uint32_t value, uint32_t bits) {
  const uint32_t b = value & 0xFF;
  return uint8_t((b >> bits) | (b << (8 - bits)));
}

// The table's Checksum fields: four bytes every 16, starting at `first`.
struct ChecksumFields {
  const uint8_t* first;  // first byte of entry 0's Checksum field
  uint32_t count;
};

// Contribution of the Checksum-field bytes that lie in [start, start + bytes)
// to a word sum that starts at `start`. Subtracting it gives the sum with all
// those fields zero, without writing to the buffer.
uint32_t FieldContribution(const ChecksumFields& fields, const uint8_t* start, uint64_t bytes) {
  uint32_t contribution = 0;
  if (fields.count == 0 || fields.first >= start + bytes ||
      fields.first + uint64_t(fields.count) * kChecksumEntrySize <= start)
    return 0;
  for (uint32_t j = 0; j < fields.count; ++j) {
    const uint8_t* field = fields.first + uint64_t(j) * kChecksumEntrySize;
    for (uint32_t k = 0; k < 4; ++k) {
      const uint8_t* p = field + k;
      if (p < start || uint64_t(p - start) >= bytes) continue;
      contribution += uint32_t(*p) << (8 * (uint64_t(p - start) & 3));
    }
  }
  return contribution;
}

}  // namespace

uint32_t ScrambleSum(uint32_t sum, uint32_t index) {
  const uint32_t bytes = uint32_t(RotateByteRight(sum, 1)) | uint32_t(RotateByteRight(sum >> 8, 2)) << 8 |
                         uint32_t(RotateByteRight(sum >> 16, 3)) << 16 | uint32_t(RotateByteRight(sum >> 24, 4)) << 24;
  const uint32_t r = index & 31;
  return r == 0 ? bytes : (bytes >> r) | (bytes << (32 - r));
}

uint32_t ByteSum(const uint8_t* bytes, uint64_t count) {
  // Eight bytes per step: the even and odd bytes of each word go into four
  // 16-bit lanes, which cannot overflow within 128 words (128 * 2 * 255).
  constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
  uint32_t total = 0;
  while (count >= 8) {
    uint64_t words = count / 8;
    if (words > 128) words = 128;
    uint64_t lanes = 0;
    for (uint64_t i = 0; i < words; ++i) {
      const uint64_t w = Load64(bytes + 8 * i);
      lanes += (w & kLanes) + ((w >> 8) & kLanes);
    }
    lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
    total += uint32_t(lanes) + uint32_t(lanes >> 32);
    bytes += 8 * words;
    count -= 8 * words;
  }
  for (uint64_t i = 0; i < count; ++i) total += bytes[i];
  return total;
}

uint32_t WordSum32(const uint8_t* bytes, uint64_t words) {
  // Two independent accumulators let the adds of neighbouring words overlap.
  uint32_t a = 0;
  uint32_t b = 0;
  uint64_t i = 0;
  for (; i + 2 <= words; i += 2) {
    a += Load32(bytes + 4 * i);
    b += Load32(bytes + 4 * i + 4);
  }
  if (i < words) a += Load32(bytes + 4 * i);
  return a + b;
}

namespace {

// Where the checksum table of a descriptor lies, when the descriptor and the
// whole table are inside the buffer.
bool LocateChecksumTable(const uint8_t* image, uint32_t length, const uint8_t* descriptor, const uint8_t** table,
                         uint32_t* count) {
  const uint8_t* const end = image + length;
  *count = descriptor[kDescChecksumCount];
  *table = descriptor + Load16(descriptor + kDescChecksumTableOffset);
  return Inside(image, end, *table, uint64_t(*count) * kChecksumEntrySize);
}

ChecksumEntryResult CheckEntry(const uint8_t* image, uint32_t length, const uint8_t* table, uint32_t count,
                               uint32_t index, uint32_t* computed) {
  const ChecksumFields fields{table + kChecksumValue, count};
  // Window address W lies at buffer offset W - (2^32 - length).
  const uint64_t windowBase = (uint64_t(1) << 32) - length;
  const uint8_t* entry = table + uint64_t(index) * kChecksumEntrySize;
  const uint32_t address = Load32(entry + kChecksumAddress);
  const uint32_t bytes = Load32(entry + kChecksumUnitSize) * uint32_t(Load16(entry + kChecksumUnitCount));
  const uint64_t words = (uint64_t(bytes) + 3) / 4;
  // A range that leaves the buffer cannot be summed: it counts as a
  // mismatch. An empty range reads nothing, wherever it points.
  if (words != 0 && (address < windowBase || uint64_t(address - windowBase) + words * 4 > length))
    return ChecksumEntryResult::OutsideImage;
  const uint8_t* start = words != 0 ? image + (address - windowBase) : image;
  const uint32_t sum = WordSum32(start, words) - FieldContribution(fields, start, words * 4);
  *computed = ScrambleSum(sum, index);
  return *computed == Load32(entry + kChecksumValue) ? ChecksumEntryResult::Holds : ChecksumEntryResult::Differs;
}

bool DescriptorSignaturesHold(const uint8_t* image, uint32_t length, const uint8_t* descriptor) {
  if (image == nullptr || descriptor == nullptr) return false;
  if (!Inside(image, image + length, descriptor, kDescChecksumEnabled + 1)) return false;
  return Load32(descriptor) == kDescriptorSignatureValue &&
         Load16(descriptor + kDescSignature2) == kDescriptorSignature2Value;
}

}  // namespace

bool VerifyDescriptorChecksums(uint8_t* image, uint32_t length, const uint8_t* descriptor) {
  if (!DescriptorSignaturesHold(image, length, descriptor)) return false;
  if (descriptor[kDescChecksumEnabled] != 1) return true;
  const uint8_t* table = nullptr;
  uint32_t count = 0;
  if (!LocateChecksumTable(image, length, descriptor, &table, &count)) return false;
  bool allMatch = true;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t computed = 0;
    if (CheckEntry(image, length, table, count, i, &computed) != ChecksumEntryResult::Holds) allMatch = false;
  }
  return allMatch;
}

ChecksumEntryResult CheckChecksumEntry(const uint8_t* image, uint32_t length, const uint8_t* descriptor, uint32_t index,
                                       uint32_t* computed) {
  *computed = 0;
  const uint8_t* table = nullptr;
  uint32_t count = 0;
  if (!DescriptorSignaturesHold(image, length, descriptor) ||
      !LocateChecksumTable(image, length, descriptor, &table, &count) || index >= count)
    return ChecksumEntryResult::OutsideImage;
  return CheckEntry(image, length, table, count, index, computed);
}
