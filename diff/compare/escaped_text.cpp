// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/escaped_text.h"

#include <cstdint>
#include <cstdio>

namespace pdiff {

namespace {

void AppendEscape(std::string& out, uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  out += text;
}

// Length of the well-formed UTF-8 sequence at text[at] (2 to 4 bytes, no
// overlong forms, no surrogates, at most U+10FFFF), or 0.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const uint8_t lead = uint8_t(text[at]);
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = uint8_t(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code < 0xE000;
  const bool c1Control = code >= 0x80 && code < 0xA0;
  // Characters that reorder or break the lines around them, or that show as
  // nothing (zero-width space, word joiner, byte-order mark): a name holding
  // one could make a report line read otherwise than it is, or two names
  // that differ look the same.
  const bool layoutControl = code == 0x061C || code == 0x200B || code == 0x200E || code == 0x200F ||
                             (code >= 0x2028 && code <= 0x202E) || (code >= 0x2060 && code <= 0x2064) ||
                             (code >= 0x2066 && code <= 0x2069) || code == 0xFEFF;
  return overlong || surrogate || c1Control || layoutControl || code > 0x10FFFF ? 0 : length;
}

}  // namespace

std::string EscapedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const uint8_t byte = uint8_t(text[at]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += char(byte);
      ++at;
      continue;
    }
    const size_t length = byte >= 0x80 ? Utf8SequenceLength(text, at) : 0;
    if (length == 0) {
      AppendEscape(out, byte);
      ++at;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}

bool IsUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    if (uint8_t(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace pdiff
