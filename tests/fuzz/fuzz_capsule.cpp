// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the golden image's capsule unwrapping on arbitrary
// bytes. The bytes are no capsule, a capsule refused with a reason, or one
// whose image lies wholly inside them; the sanitizers catch any read past
// the buffer on the way.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fleet/golden_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes: a read past it is a heap overflow.
  const std::vector<uint8_t> bytes(data, data + size);
  std::string problem;
  const std::optional<fleet::CapsulePayload> payload = fleet::FindCapsulePayload(bytes.data(), bytes.size(), &problem);
  if (!payload) return 0;
  if (!problem.empty() || payload->length == 0 || payload->offset > size || payload->length > size - payload->offset)
    __builtin_trap();
  return 0;
}
