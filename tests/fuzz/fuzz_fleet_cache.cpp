// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: pellrix-fleet's cache file on arbitrary bytes. Opening
// it either refuses it or takes what entries it can; looking entries up
// and writing the cache again end normally, and what was written opens
// again. The bytes go through a file because the cache is read by path.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "fleet/chip_cache.h"

namespace {

const std::string& CachePath() {
  static const std::string path = [] {
    char directory[] = "/tmp/pellrix-fuzz-cache-XXXXXX";
    if (mkdtemp(directory) == nullptr) abort();
    return std::string(directory) + "/fleet.cache";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(CachePath().c_str(), "wb");
  if (file == nullptr) abort();
  if (size != 0 && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  fleet::ChipCache cache;
  std::string problem;
  std::string notice;
  if (!cache.Open(CachePath(), "golden", {}, &problem, &notice)) {
    if (problem.empty()) __builtin_trap();
    return 0;
  }
  fleet::FileStamp stamp;
  stamp.device = 1;
  stamp.inode = 2;
  stamp.size = 3;
  stamp.modifiedNanoseconds = 4;
  stamp.changedNanoseconds = 5;
  fleet::ChipRecord chip;
  fleet::BoardVerdict verdict;
  cache.Find("x", stamp, &chip);
  cache.FindVerdict("x", stamp, "y", stamp, &verdict);
  cache.Store("new", stamp, chip);
  if (!cache.Save(&problem)) __builtin_trap();
  fleet::ChipCache again;
  if (!again.Open(CachePath(), "golden", {}, &problem, &notice) || !again.Find("new", stamp, &chip)) __builtin_trap();
  return 0;
}
