// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: each decoder on arbitrary bytes, chosen by the first
// byte. A decoder that succeeds produces exactly the size its header states,
// one that fails says why; none may read outside its input or write outside
// its output.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fwtree/brotli_decompress.h"
#include "fwtree/lzma_decompress.h"
#include "fwtree/standard_decompress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0] % 5;
  uint8_t* stream = static_cast<uint8_t*>(std::malloc(size - 1 ? size - 1 : 1));
  std::memcpy(stream, data + 1, size - 1);
  constexpr uint64_t kLimit = 4u << 20;
  std::vector<uint8_t> out;
  std::string problem;
  bool ok = false;
  switch (choice) {
    case 0:
    case 1: {
      const auto variant = choice == 0 ? fwtree::StandardVariant::Efi11 : fwtree::StandardVariant::Tiano;
      ok = fwtree::StandardDecompress(stream, size - 1, variant, kLimit, &out, &problem);
      uint32_t stated = 0;
      if (ok && (!fwtree::StandardOriginalSize(stream, size - 1, &stated) || out.size() != stated)) __builtin_trap();
      break;
    }
    case 2:
    case 3: ok = fwtree::LzmaDecompress(stream, size - 1, choice == 3, kLimit, &out, &problem); break;
    default: ok = fwtree::BrotliDecompress(stream, size - 1, kLimit, &out, &problem); break;
  }
  if (!ok && problem.empty()) __builtin_trap();
  if (out.size() > kLimit) __builtin_trap();
  std::free(stream);
  return 0;
}
