// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/text_format.h"

#include <cstdio>

namespace pdiff {

std::string GuidText(const uint8_t* g) {
  char text[40];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string FileTypeName(uint8_t type) {
  switch (type) {
    case 0x01: return "RAW";
    case 0x02: return "FREEFORM";
    case 0x03: return "SECURITY_CORE";
    case 0x04: return "PEI_CORE";
    case 0x05: return "DXE_CORE";
    case 0x06: return "PEIM";
    case 0x07: return "DRIVER";
    case 0x08: return "COMBINED_PEIM_DRIVER";
    case 0x09: return "APPLICATION";
    case 0x0A: return "MM";
    case 0x0B: return "FIRMWARE_VOLUME_IMAGE";
    case 0x0C: return "COMBINED_MM_DXE";
    case 0x0D: return "MM_CORE";
    case 0x0E: return "MM_STANDALONE";
    case 0x0F: return "MM_CORE_STANDALONE";
    case 0xF0: return "PAD";
    default: break;
  }
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", type);
  return text;
}

}  // namespace pdiff
