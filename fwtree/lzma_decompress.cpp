#include "fwtree/lzma_decompress.h"

#include <lzma.h>

#include <cstdlib>

namespace fwtree {

namespace {

constexpr uint64_t kHeaderSize = 13;  // 5 property bytes and the 64-bit size
constexpr uint32_t kSmallestDictionary = 4096;

uint64_t Load64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

bool Fail(std::string* problem, const char* reason) {
  *problem = std::string("LZMA: ") + reason;
  return false;
}

}  // namespace

bool LzmaDecompress(const uint8_t* source, uint64_t size, bool x86Filter, uint64_t limit, std::vector<uint8_t>* output,
                    std::string* problem) {
  if (size < kHeaderSize) return Fail(problem, "header cut short");
  const uint64_t expected = Load64(source + 5);
  if (expected > limit) return Fail(problem, "output over the decompression limit");

  lzma_filter lzma{LZMA_FILTER_LZMA1EXT, nullptr};
  if (lzma_properties_decode(&lzma, nullptr, source, 5) != LZMA_OK) return Fail(problem, "bad properties");
  auto* options = static_cast<lzma_options_lzma*>(lzma.options);
  // The decoder never looks further back than the output is long: a larger
  // stated dictionary would only cost memory.
  if (options->dict_size > expected)
    options->dict_size = uint32_t(expected < kSmallestDictionary ? kSmallestDictionary : expected);
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
  output->assign(expected, 0);
  stream.next_in = source + kHeaderSize;
  stream.avail_in = size - kHeaderSize;
  stream.next_out = output->data();
  stream.avail_out = expected;
  result = lzma_code(&stream, LZMA_FINISH);
  const bool complete = (result == LZMA_STREAM_END || result == LZMA_OK) && stream.avail_out == 0;
  lzma_end(&stream);
  std::free(options);
  if (!complete) {
    output->clear();
    return Fail(problem, "stream damaged or cut short");
  }
  return true;
}

}  // namespace fwtree
