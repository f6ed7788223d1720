// SPDX-License-Identifier: BSD-2-Clause-Patent
// UTF-16 texts stored in firmware (file names, variable names) as UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace fwtree {

// The little-endian UTF-16 text in data[0, size) up to its first NUL; lone
// surrogates become U+FFFD.
std::string Utf8FromUtf16(const uint8_t* data, uint64_t size);

}  // namespace fwtree
