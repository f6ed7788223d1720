// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/lzma_decompress.h"

#include <lzma.h>

#include <algorithm>
#include <cstdlib>

#include "fwtree/output_growth.h"
#include "image/layout.h"

namespace fwtree {

namespace {

using image_layout::Load32;
using image_layout::Load64;

constexpr uint64_t kHeaderSize = 13;  // 5 property bytes and the 64-bit size
constexpr uint32_t kSmallestDictionary = 4096;
// An empty stream is the range coder's flush and perhaps an end marker.
constexpr uint64_t kEmptyStreamMost = 16;

uint32_t DictionaryFor(uint32_t asked, uint64_t expected) {
  const uint64_t bound = std::min(std::max<uint64_t>(expected, kSmallestDictionary), kLargestLzmaDictionary);
  return uint32_t(std::min<uint64_t>(std::max(asked, kSmallestDictionary), bound));
}

bool Fail(std::string* problem, const char* reason) {
  *problem = std::string("LZMA: ") + reason;
  return false;
}

}  // namespace

uint64_t LzmaDictionarySize(const uint8_t* source, uint64_t size) {
  if (size < kHeaderSize) return 0;
  return DictionaryFor(Load32(source + 1), Load64(source + 5));
}

bool LzmaDecompress(const uint8_t* source, uint64_t size, bool x86Filter, uint64_t limit, std::vector<uint8_t>* output,
                    std::string* problem) {
  output->clear();
  if (size < kHeaderSize) return Fail(problem, "header cut short");
  const uint64_t expected = Load64(source + 5);
  if (expected > limit) return Fail(problem, "output over the decompression limit");

  lzma_filter lzma{LZMA_FILTER_LZMA1EXT, nullptr};
  if (lzma_properties_decode(&lzma, nullptr, source, 5) != LZMA_OK) return Fail(problem, "bad properties");
  auto* options = static_cast<lzma_options_lzma*>(lzma.options);
  options->dict_size = DictionaryFor(options->dict_size, expected);
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options->ext_size_low = uint32_t(expected);
  options->ext_size_high = uint32_t(expected >> 32);

  lzma_filter chain[3];
  int count = 0;
  if (x86Filter) chain[count++] = {LZMA_FILTER_X86, nullptr};
  chain[count++] = lzma;
  chain[count] = {LZMA_VLI_UNKNOWN, nullptr};

  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret result = lzma_raw_decoder(&stream, chain);
  if (result != LZMA_OK) {
    std::free(options);
    return Fail(problem, "decoder set-up failed");
  }
  // Reserved whole, filled as decoded.
  output->reserve(expected);
  stream.next_in = source + kHeaderSize;
  stream.avail_in = size - kHeaderSize;
  while (result == LZMA_OK && output->size() < expected) {
    const uint64_t before = output->size();
    output->resize(NextOutputSize(before, expected));
    stream.next_out = output->data() + before;
    stream.avail_out = output->size() - before;
    result = lzma_code(&stream, LZMA_FINISH);
    output->resize(output->size() - stream.avail_out);
  }
  lzma_end(&stream);
  std::free(options);
  if (expected == 0 && size - kHeaderSize > kEmptyStreamMost) return Fail(problem, "states 0 bytes but holds a stream");
  if (output->size() != expected || (result != LZMA_OK && result != LZMA_STREAM_END))
    return Fail(problem, "stream damaged or cut short");
  return true;
}

}  // namespace fwtree
