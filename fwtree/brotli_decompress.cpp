#include "fwtree/brotli_decompress.h"

#include <brotli/decode.h>

namespace fwtree {

namespace {

constexpr uint64_t kHeaderSize = 16;  // decompressed size, scratch size

uint64_t Load64(const uint8_t* p) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

}  // namespace

bool BrotliDecompress(const uint8_t* source, uint64_t size, uint64_t limit, std::vector<uint8_t>* output,
                      std::string* problem) {
  if (size < kHeaderSize) {
    *problem = "Brotli: header cut short";
    return false;
  }
  const uint64_t expected = Load64(source);
  if (expected > limit) {
    *problem = "Brotli: output over the decompression limit";
    return false;
  }
  output->assign(expected, 0);
  size_t written = expected;
  const BrotliDecoderResult result =
      BrotliDecoderDecompress(size - kHeaderSize, source + kHeaderSize, &written, output->data());
  if (result != BROTLI_DECODER_RESULT_SUCCESS || written != expected) {
    output->clear();
    *problem = "Brotli: stream damaged or cut short";
    return false;
  }
  return true;
}

}  // namespace fwtree
