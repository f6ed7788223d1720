// SPDX-License-Identifier: BSD-2-Clause-Patent
// GUIDs as they lie in firmware (mixed-endian, 16 bytes) and as people
// write them (8-4-4-4-12 hexadecimal, upper case, no braces).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace fwtree {

using Guid = std::array<uint8_t, 16>;

Guid GuidAt(const uint8_t* bytes);
std::string GuidText(const Guid& guid);

// The in-memory bytes of a GUID written as text; constant-evaluated, so a
// typing error in a table below fails the build.
consteval Guid GuidFromText(std::string_view text) {
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'A' && c <= 'F') return uint8_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return uint8_t(c - 'a' + 10);
    throw "not a hexadecimal digit";
  };
  if (text.size() != 36) throw "a GUID has 36 characters";
  uint8_t value[16] = {};
  int count = 0;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    value[count++] = uint8_t(nibble(text[i]) << 4 | nibble(text[i + 1]));
    i += 2;
  }
  // The first three fields are stored little-endian.
  return Guid{value[3], value[2], value[1],  value[0],  value[5],  value[4],  value[7],  value[6],
              value[8], value[9], value[10], value[11], value[12], value[13], value[14], value[15]};
}

inline constexpr Guid kFileSystem1 = GuidFromText("7A9354D9-0468-444A-81CE-0BF617D890DF");
inline constexpr Guid kFileSystem2 = GuidFromText("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
inline constexpr Guid kFileSystem3 = GuidFromText("5473C07A-3DCB-4DCA-BD6F-1E9689E7349A");
inline constexpr Guid kLzmaSection = GuidFromText("EE4E5898-3914-4259-9D6E-DC7BD79403CF");
inline constexpr Guid kLzmaX86Section = GuidFromText("D42AE6BD-1352-4BFB-909A-CA72A6EAE889");
inline constexpr Guid kBrotliSection = GuidFromText("3D532050-5CDA-4FD0-879E-0F7F630D5AFB");
inline constexpr Guid kCrc32Section = GuidFromText("FC1BCDB0-7D31-49AA-936A-A4600D9DD083");
inline constexpr Guid kVolumeTopFile = GuidFromText("1BA0062E-C779-4582-8566-336AE8F78F09");

}  // namespace fwtree
