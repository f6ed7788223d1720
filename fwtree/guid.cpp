#include "fwtree/guid.h"

#include <cstdio>
#include <cstring>

namespace fwtree {

Guid GuidAt(const uint8_t* bytes) {
  Guid guid;
  std::memcpy(guid.data(), bytes, guid.size());
  return guid;
}

std::string GuidText(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

}  // namespace fwtree
