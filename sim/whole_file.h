// SPDX-License-Identifier: BSD-2-Clause-Patent
// Host files read or written in one piece, with every failure reported as
// "PATH: what went wrong" rather than left in a stream's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// Reads all of `path`, which may be a pipe; refuses a directory and anything
// longer than `maxBytes`.
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* text, std::string* problem);

// Creates or truncates `path` and writes `size` bytes; true only when every
// byte was written and the file closed cleanly.
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string* problem);

}  // namespace sim
