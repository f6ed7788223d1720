// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/standard_decompress.h"

#include <algorithm>
#include <array>

#include "fwtree/output_growth.h"
#include "image/layout.h"

namespace fwtree {

namespace {

using image_layout::Load32;

constexpr int kBitBufferBits = 32;
constexpr int kMaxMatch = 256;
constexpr int kThreshold = 3;
constexpr int kCodeBits = 16;
// Symbol sets: C literals and match lengths, P match positions, T the code
// lengths of the C set.
constexpr int kCharSetSize = 0xFF + kMaxMatch + 2 - kThreshold;  // 510
constexpr int kCharCountBits = 9;
constexpr int kExtraCountBits = 5;
constexpr int kExtraSetSize = kCodeBits + 3;  // 19
constexpr int kPositionSetSize = 31;          // the larger of both variants
constexpr int kPtSetSize = 31;                // room for the T and P sets
constexpr int kCharTableBits = 12;
constexpr int kPtTableBits = 8;
constexpr uint16_t kNodeLimit = 2 * kCharSetSize - 1;

class BitReader {
 public:
  BitReader(const uint8_t* data, uint64_t size) : data_(data), size_(size) { Fill(kBitBufferBits); }

  uint32_t Peek(int bits) const { return buffer_ >> (kBitBufferBits - bits); }
  uint32_t buffer() const { return buffer_; }

  // Drops `bits` from the top; bytes past the end read as zero.
  void Fill(int bits) {
    buffer_ = bits >= 32 ? 0 : buffer_ << bits;
    while (bits > available_) {
      bits -= available_;
      buffer_ |= bits >= 32 ? 0 : uint32_t(pending_) << bits;
      pending_ = next_ < size_ ? data_[next_++] : 0;
      available_ = 8;
    }
    available_ -= bits;
    buffer_ |= pending_ >> available_;
  }

  uint32_t Take(int bits) {
    const uint32_t value = Peek(bits);
    Fill(bits);
    return value;
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
  uint64_t next_ = 0;
  uint32_t buffer_ = 0;
  uint32_t pending_ = 0;
  int available_ = 0;
};

// A canonical Huffman decoding table: codes up to `tableBits` long resolve
// in one lookup, longer ones walk a binary tree stored in left/right.
template <int kSymbols, int kTableBits>
struct HuffmanTable {
  std::array<uint8_t, kSymbols> lengths{};
  std::array<uint16_t, size_t(1) << kTableBits> table{};

  // False when the lengths do not form a complete prefix code.
  bool Build(int symbols, uint16_t* left, uint16_t* right) {
    std::array<uint32_t, 18> count{};
    std::array<uint32_t, 18> start{};
    std::array<uint32_t, 17> weight{};
    for (int i = 0; i < symbols; ++i) {
      if (lengths[size_t(i)] > 16) return false;
      ++count[lengths[size_t(i)]];
    }
    start[1] = 0;
    for (int i = 1; i <= 16; ++i) start[size_t(i) + 1] = start[size_t(i)] + (count[size_t(i)] << (16 - i));
    // A complete code fills the 16-bit code space exactly.
    if ((start[17] & 0xFFFF) != 0) return false;

    const int shift = 16 - kTableBits;
    for (int i = 1; i <= kTableBits; ++i) {
      start[size_t(i)] >>= shift;
      weight[size_t(i)] = 1u << (kTableBits - i);
    }
    for (int i = kTableBits + 1; i <= 16; ++i) weight[size_t(i)] = 1u << (16 - i);
    uint32_t first = start[size_t(kTableBits) + 1] >> shift;
    const uint32_t tableSize = 1u << kTableBits;
    for (; first < tableSize; ++first) table[first] = 0;

    uint16_t available = uint16_t(symbols);
    const uint32_t mask = 1u << (15 - kTableBits);
    for (int symbol = 0; symbol < symbols; ++symbol) {
      const int length = lengths[size_t(symbol)];
      if (length == 0) continue;
      const uint32_t next = start[size_t(length)] + weight[size_t(length)];
      if (length <= kTableBits) {
        if (next > tableSize) return false;
        for (uint32_t i = start[size_t(length)]; i < next; ++i) table[i] = uint16_t(symbol);
      } else {
        uint32_t code = start[size_t(length)];
        if ((code >> shift) >= tableSize) return false;
        uint16_t* node = &table[code >> shift];
        for (int depth = length - kTableBits; depth > 0; --depth) {
          if (*node == 0) {
            if (available >= kNodeLimit) return false;
            left[available] = right[available] = 0;
            *node = available++;
          }
          if (*node < symbols || *node >= kNodeLimit) return false;
          node = (code & mask) ? &right[*node] : &left[*node];
          code <<= 1;
        }
        *node = uint16_t(symbol);
      }
      start[size_t(length)] = next;
    }
    return true;
  }

  // Reads one symbol. False when the tree walk meets a hole.
  bool Decode(BitReader& bits, int symbols, const uint16_t* left, const uint16_t* right, uint16_t* symbol) const {
    uint16_t value = table[bits.Peek(kTableBits)];
    if (value >= symbols) {
      uint32_t mask = 1u << (kBitBufferBits - 1 - kTableBits);
      int steps = 0;
      do {
        if (value >= kNodeLimit || ++steps > 16) return false;
        value = (bits.buffer() & mask) ? right[value] : left[value];
        mask >>= 1;
      } while (value >= symbols);
    }
    if (lengths[value] == 0) return false;
    bits.Fill(lengths[value]);
    *symbol = value;
    return true;
  }
};

class Decoder {
 public:
  Decoder(const uint8_t* stream, uint64_t size, int positionBits) : bits_(stream, size), positionBits_(positionBits) {}

  // Fills `out` (its capacity already the whole output) with `outSize`
  // bytes, growing it a step at a time; false at the first fault, `out`
  // then holding what was decoded.
  bool Run(std::vector<uint8_t>& out, uint32_t outSize) {
    uint32_t written = 0;
    const bool ok = Decode(out, outSize, &written);
    out.resize(written);
    return ok;
  }

 private:
  // Makes room in `out` for `count` bytes at `written`.
  static uint8_t* Room(std::vector<uint8_t>& out, uint32_t written, uint32_t count, uint32_t outSize) {
    if (out.size() - written < count)
      out.resize(std::max(uint64_t(written) + count, NextOutputSize(out.size(), outSize)));
    return out.data();
  }

  bool Decode(std::vector<uint8_t>& out, uint32_t outSize, uint32_t* written) {
    uint32_t at = 0;
    while (at < outSize) {
      uint16_t symbol;
      if (!NextChar(&symbol)) break;
      if (symbol < 256) {
        Room(out, at, 1, outSize)[at] = uint8_t(symbol);
        ++at;
        continue;
      }
      uint32_t distance;
      if (!NextPosition(&distance)) break;
      // The match starts distance + 1 bytes back: never before the output.
      if (uint64_t(distance) + 1 > at) break;
      const uint32_t length = std::min<uint32_t>(symbol - (256 - kThreshold), outSize - at);
      uint8_t* bytes = Room(out, at, length, outSize);
      // Byte by byte: a match may overlap the bytes it writes.
      for (uint32_t from = at - distance - 1, end = at + length; at < end;) bytes[at++] = bytes[from++];
    }
    *written = at;
    return at == outSize;
  }

  bool ReadPtLengths(int symbols, int countBits, int special) {
    const uint32_t number = bits_.Take(countBits);
    pt_.lengths.fill(0);
    if (number == 0) {
      const uint32_t only = bits_.Take(countBits);
      if (only >= uint32_t(symbols)) return false;
      pt_.table.fill(uint16_t(only));
      onlyPt_ = true;
      return true;
    }
    onlyPt_ = false;
    if (number > uint32_t(symbols)) return false;
    uint32_t index = 0;
    while (index < number) {
      uint32_t length = bits_.Peek(3);
      if (length == 7) {
        uint32_t mask = 1u << (kBitBufferBits - 1 - 3);
        while (bits_.buffer() & mask) {
          mask >>= 1;
          if (++length > 16) return false;
        }
      }
      bits_.Fill(length < 7 ? 3 : int(length) - 3);
      pt_.lengths[index++] = uint8_t(length);
      if (int(index) == special) {
        uint32_t zeros = bits_.Take(2);
        while (zeros-- > 0 && index < uint32_t(symbols)) pt_.lengths[index++] = 0;
      }
    }
    return pt_.Build(symbols, left_.data(), right_.data());
  }

  bool ReadCharLengths() {
    const uint32_t number = bits_.Take(kCharCountBits);
    c_.lengths.fill(0);
    if (number == 0) {
      const uint32_t only = bits_.Take(kCharCountBits);
      if (only >= uint32_t(kCharSetSize)) return false;
      c_.table.fill(uint16_t(only));
      onlyChar_ = true;
      return true;
    }
    onlyChar_ = false;
    if (number > uint32_t(kCharSetSize)) return false;
    uint32_t index = 0;
    while (index < number) {
      uint16_t code;
      if (!DecodePt(kExtraSetSize, &code)) return false;
      if (code <= 2) {
        uint32_t zeros = code == 0 ? 1 : code == 1 ? bits_.Take(4) + 3 : bits_.Take(kCharCountBits) + 20;
        while (zeros-- > 0 && index < uint32_t(kCharSetSize)) c_.lengths[index++] = 0;
      } else {
        c_.lengths[index++] = uint8_t(code - 2);
      }
    }
    return c_.Build(kCharSetSize, left_.data(), right_.data());
  }

  bool DecodePt(int symbols, uint16_t* symbol) {
    if (onlyPt_) {
      *symbol = pt_.table[0];
      return true;
    }
    return pt_.Decode(bits_, symbols, left_.data(), right_.data(), symbol);
  }

  bool NextChar(uint16_t* symbol) {
    if (blockLeft_ == 0) {
      blockLeft_ = bits_.Take(16);
      if (blockLeft_ == 0) return false;
      if (!ReadPtLengths(kExtraSetSize, kExtraCountBits, 3) || !ReadCharLengths() ||
          !ReadPtLengths(kPositionSetSize, positionBits_, -1))
        return false;
    }
    --blockLeft_;
    if (onlyChar_) {
      *symbol = c_.table[0];
      return true;
    }
    return c_.Decode(bits_, kCharSetSize, left_.data(), right_.data(), symbol);
  }

  bool NextPosition(uint32_t* distance) {
    uint16_t code;
    if (!DecodePt(kPositionSetSize, &code)) return false;
    *distance = code;
    if (code > 1) *distance = (1u << (code - 1)) + bits_.Take(code - 1);
    return true;
  }

  BitReader bits_;
  int positionBits_;
  uint32_t blockLeft_ = 0;
  HuffmanTable<kCharSetSize, kCharTableBits> c_;
  HuffmanTable<kPtSetSize, kPtTableBits> pt_;
  bool onlyChar_ = false;
  bool onlyPt_ = false;
  std::array<uint16_t, kNodeLimit> left_{};
  std::array<uint16_t, kNodeLimit> right_{};
};

}  // namespace

bool StandardOriginalSize(const uint8_t* source, uint64_t size, uint32_t* originalSize) {
  if (size < 8) return false;
  *originalSize = Load32(source + 4);
  return true;
}

bool StandardDecompress(const uint8_t* source, uint64_t size, StandardVariant variant, uint64_t limit,
                        std::vector<uint8_t>* output, std::string* problem) {
  if (size < 8) {
    *problem = "standard compression: header cut short";
    return false;
  }
  const uint32_t compressed = Load32(source);
  const uint32_t original = Load32(source + 4);
  if (uint64_t(compressed) + 8 > size) {
    *problem = "standard compression: stream longer than its section";
    return false;
  }
  if (original > limit) {
    *problem = "standard compression: output over the decompression limit";
    return false;
  }
  output->clear();
  if (original == 0) {
    if (compressed == 0) return true;
    *problem =
        "standard compression: states 0 original bytes but holds " + std::to_string(compressed) + " bytes of stream";
    return false;
  }
  // Reserved whole, filled as decoded.
  output->reserve(original);
  // On the stack (13 KiB of tables): a decode that fails early costs no
  // allocation.
  Decoder decoder(source + 8, compressed, variant == StandardVariant::Efi11 ? 4 : 5);
  if (!decoder.Run(*output, original)) {
    *problem = variant == StandardVariant::Efi11 ? "EFI 1.1 decompression failed" : "Tiano decompression failed";
    return false;
  }
  return true;
}

}  // namespace fwtree
