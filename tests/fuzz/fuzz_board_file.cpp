// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: pellrix-sim's board-file parser on arbitrary bytes. A
// file is refused with a message or loaded; nothing else may happen (an
// exception escaping, an abort, a sanitizer report). The bytes go through a
// file because the parser reads board files by path; image keys resolve in
// the fuzzer's own empty directory.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "sim/board_file.h"

namespace {

const std::string& BoardPath() {
  static const std::string path = [] {
    char directory[] = "/tmp/pellrix-fuzz-board-XXXXXX";
    if (mkdtemp(directory) == nullptr) abort();
    return std::string(directory) + "/board.json";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(BoardPath().c_str(), "wb");
  if (file == nullptr) abort();
  if (size != 0 && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  sim::Board board;
  sim::BoardError error;
  if (!sim::LoadBoardFile(BoardPath(), &board, &error) && error.message.empty()) __builtin_trap();
  return 0;
}
