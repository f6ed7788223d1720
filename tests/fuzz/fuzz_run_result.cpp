// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: RESULT.TXT as pellrix-fleet reads it from a kit's RUN
// folder, on arbitrary bytes. The text is refused with a reason or read
// into a verdict and values that hold no control byte (they reach the
// terminal) and no more pairs than are kept.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "fleet/run_result.h"

namespace {

bool Printable(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string problem;
  const std::optional<fleet::RunResult> result = fleet::ParseRunResult(text, &problem);
  if (!result) {
    if (problem.empty()) __builtin_trap();
    return 0;
  }
  if (result->verdict.empty() || !Printable(result->verdict) || result->values.size() > 32) __builtin_trap();
  for (const auto& [name, value] : result->values)
    if (name.empty() || !Printable(name) || !Printable(value)) __builtin_trap();
  if (!Printable(result->Line())) __builtin_trap();
  return 0;
}
