// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/utf16_text.h"

#include "image/layout.h"

namespace fwtree {

namespace {

void AppendUtf8(std::string& text, uint32_t code) {
  if (code < 0x80) {
    text += char(code);
  } else if (code < 0x800) {
    text += char(0xC0 | code >> 6);
    text += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += char(0xE0 | code >> 12);
    text += char(0x80 | (code >> 6 & 0x3F));
    text += char(0x80 | (code & 0x3F));
  } else {
    text += char(0xF0 | code >> 18);
    text += char(0x80 | (code >> 12 & 0x3F));
    text += char(0x80 | (code >> 6 & 0x3F));
    text += char(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::string Utf8FromUtf16(const uint8_t* data, uint64_t size) {
  using image_layout::Load16;
  std::string text;
  for (uint64_t at = 0; at + 2 <= size; at += 2) {
    uint32_t unit = Load16(data + at);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00 && at + 4 <= size) {
      const uint32_t low = Load16(data + at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        at += 2;
        continue;
      }
    }
    AppendUtf8(text, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
  }
  return text;
}

}  // namespace fwtree
