// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/standard_compressor.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace support {

namespace {

constexpr int kCharSymbols = 510;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr uint32_t kMaxDistance = (1u << 13) - 1;  // the largest position the tables below can code
constexpr uint32_t kBlockSymbols = 0xFFFF;

class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      current_ = uint8_t(current_ << 1 | ((value >> i) & 1));
      if (++used_ == 8) {
        bytes_.push_back(current_);
        current_ = 0;
        used_ = 0;
      }
    }
  }
  std::vector<uint8_t> Finish() {
    if (used_ > 0) Put(0, 8 - used_);
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  uint8_t current_ = 0;
  int used_ = 0;
};

struct Code {
  uint32_t bits;
  int length;
};

// Canonical codes for the given lengths: shorter codes first, then by symbol.
template <size_t N>
std::array<Code, N> CanonicalCodes(const std::array<int, N>& lengths) {
  std::array<Code, N> codes{};
  uint32_t next = 0;
  for (int length = 1; length <= 16; ++length) {
    for (size_t symbol = 0; symbol < N; ++symbol)
      if (lengths[symbol] == length) codes[symbol] = {next++, length};
    next <<= 1;
  }
  return codes;
}

// Literals 0 and 1 get 8 bits, every other char-set symbol 9: a complete
// code. With every symbol at 9 bits, 2 of the 512 codes stay unused.
std::array<int, kCharSymbols> CharLengths(bool incomplete) {
  std::array<int, kCharSymbols> lengths{};
  for (int symbol = 0; symbol < kCharSymbols; ++symbol) lengths[size_t(symbol)] = symbol < 2 && !incomplete ? 8 : 9;
  return lengths;
}

// Position codes 0 and 1 get 3 bits, 2 to 13 get 4: a complete code.
constexpr int kPositionCodes = 14;
std::array<int, kPositionCodes> PositionLengths() {
  std::array<int, kPositionCodes> lengths{};
  for (int code = 0; code < kPositionCodes; ++code) lengths[size_t(code)] = code < 2 ? 3 : 4;
  return lengths;
}

void WriteTables(BitWriter& out, int positionCountBits, const std::array<int, kCharSymbols>& charLengths) {
  // The extra set codes the char-set lengths: symbol 10 (length 8) is "0",
  // symbol 11 (length 9) is "1".
  out.Put(12, 5);
  for (int index = 0; index < 12; ++index) {
    out.Put(index >= 10 ? 1 : 0, 3);
    if (index == 2) out.Put(0, 2);  // no extra zeros after the third length
  }
  out.Put(kCharSymbols, 9);
  for (int length : charLengths) out.Put(length == 8 ? 0 : 1, 1);
  out.Put(kPositionCodes, positionCountBits);
  for (int length : PositionLengths()) out.Put(uint32_t(length), 3);
}

using Token = StandardToken;

std::vector<Token> Tokenize(const std::vector<uint8_t>& data) {
  std::vector<Token> tokens;
  std::unordered_map<uint32_t, size_t> last;  // 3-byte prefix -> latest position
  for (size_t at = 0; at < data.size();) {
    size_t length = 0;
    size_t from = 0;
    if (at + kMinMatch <= data.size()) {
      const uint32_t key = data[at] | data[at + 1] << 8 | uint32_t(data[at + 2]) << 16;
      auto found = last.find(key);
      if (found != last.end() && at - found->second - 1 <= kMaxDistance) {
        from = found->second;
        while (at + length < data.size() && length < kMaxMatch && data[from + length] == data[at + length]) ++length;
      }
      last[key] = at;
    }
    if (length >= kMinMatch) {
      tokens.push_back({uint16_t(length + 256 - kMinMatch), uint32_t(at - from - 1)});
      at += length;
    } else {
      tokens.push_back({data[at], 0});
      ++at;
    }
  }
  return tokens;
}

void PutPosition(BitWriter& out, const std::array<Code, kPositionCodes>& codes, uint32_t distance) {
  int code = 0;
  if (distance > 1) {
    code = 1;
    while ((distance >> code) != 0) ++code;  // bit length of the distance
  } else {
    code = int(distance);
  }
  out.Put(codes[size_t(code)].bits, codes[size_t(code)].length);
  if (code > 1) out.Put(distance - (1u << (code - 1)), code - 1);
}

}  // namespace

std::vector<uint8_t> StandardEncodeTokens(const std::vector<StandardToken>& tokens, uint32_t originalSize,
                                          fwtree::StandardVariant variant, bool incompleteCharCode) {
  const int positionCountBits = variant == fwtree::StandardVariant::Efi11 ? 4 : 5;
  const auto charLengths = CharLengths(incompleteCharCode);
  const auto charCodes = CanonicalCodes(charLengths);
  const auto positionCodes = CanonicalCodes(PositionLengths());
  BitWriter out;
  for (size_t first = 0; first < tokens.size(); first += kBlockSymbols) {
    const size_t count = std::min<size_t>(kBlockSymbols, tokens.size() - first);
    out.Put(uint32_t(count), 16);
    WriteTables(out, positionCountBits, charLengths);
    for (size_t i = first; i < first + count; ++i) {
      const Code& code = charCodes[tokens[i].symbol];
      out.Put(code.bits, code.length);
      if (tokens[i].symbol >= 256) PutPosition(out, positionCodes, tokens[i].distance);
    }
  }
  std::vector<uint8_t> stream = out.Finish();
  std::vector<uint8_t> result;
  result.reserve(8 + stream.size());
  for (uint32_t field : {uint32_t(stream.size()), originalSize})
    for (int i = 0; i < 4; ++i) result.push_back(uint8_t(field >> (8 * i)));
  for (uint8_t byte : stream) result.push_back(byte);
  return result;
}

std::vector<uint8_t> StandardCompress(const std::vector<uint8_t>& data, fwtree::StandardVariant variant) {
  return StandardEncodeTokens(Tokenize(data), uint32_t(data.size()), variant);
}

}  // namespace support
