// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/brotli_decompress.h"

#include <brotli/decode.h>

#include <algorithm>

#include "fwtree/output_growth.h"
#include "image/layout.h"

namespace fwtree {

namespace {

using image_layout::Load64;

constexpr uint64_t kHeaderSize = 16;  // decompressed size, scratch size

bool Fail(std::string* problem, const char* reason) {
  *problem = std::string("Brotli: ") + reason;
  return false;
}

}  // namespace

bool BrotliDecompress(const uint8_t* source, uint64_t size, uint64_t limit, std::vector<uint8_t>* output,
                      std::string* problem) {
  output->clear();
  if (size < kHeaderSize) return Fail(problem, "header cut short");
  const uint64_t expected = Load64(source);
  if (expected > limit) return Fail(problem, "output over the decompression limit");
  BrotliDecoderState* decoder = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
  if (decoder == nullptr) return Fail(problem, "decoder set-up failed");
  // Reserved whole, filled as decoded.
  output->reserve(expected);
  const uint8_t* next = source + kHeaderSize;
  size_t available = size - kHeaderSize;
  BrotliDecoderResult result = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
  // Once the stated size is reached, one more call with no room tells
  // whether the stream ends there.
  for (bool full = false; result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT && !full;) {
    const uint64_t before = output->size();
    full = before == expected;
    output->resize(NextOutputSize(before, expected));
    size_t room = output->size() - before;
    uint8_t* out = output->data() + before;
    result = BrotliDecoderDecompressStream(decoder, &available, &next, &room, &out, nullptr);
    output->resize(output->size() - room);
  }
  BrotliDecoderDestroyInstance(decoder);
  if (result != BROTLI_DECODER_RESULT_SUCCESS) return Fail(problem, "stream damaged, cut short or longer than stated");
  if (output->size() != expected) return Fail(problem, "stream shorter than stated");
  return true;
}

}  // namespace fwtree
