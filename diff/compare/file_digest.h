// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SHA-256 of a dump as it was read, so that a report names exactly
// which files it compared.
#pragma once

#include <cstdint>
#include <string>

namespace pdiff {

// 64 lowercase hexadecimal digits.
std::string Sha256Hex(const uint8_t* bytes, uint64_t count);

}  // namespace pdiff
