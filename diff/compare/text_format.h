// SPDX-License-Identifier: BSD-2-Clause-Patent
// Text forms of the values the reports print: GUIDs, hexadecimal numbers,
// file types.
#pragma once

#include <cstdint>
#include <string>

namespace pdiff {

// Registry form, e.g. "56E14F88-234B-4C34-B204-299670447247", from the
// in-memory byte order.
std::string GuidText(const uint8_t* guid);
// "0x" and lowercase hexadecimal digits without leading zeros.
std::string Hex(uint64_t value);
// The PI name of an FFS file type, e.g. "DRIVER"; "0xNN" for others.
std::string FileTypeName(uint8_t type);

}  // namespace pdiff
