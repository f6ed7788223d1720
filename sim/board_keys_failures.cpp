// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_keys.h"

namespace sim::board_keys {

using namespace board_json;

namespace {

constexpr Spelling<FileFailure> kFileFailureSpellings[] = {
    {FileFailure::None, "none"},     {FileFailure::Open, "open"},
    {FileFailure::Write, "write"},   {FileFailure::Close, "close"},
    {FileFailure::Rename, "rename"}, {FileFailure::RenameIntoPlace, "rename-into-place"}};

}  // namespace

void ParseFailureKeys(const json& root, Board* board) {
  if (root.contains("fail_alloc")) {
    if (!root["fail_alloc"].is_array()) Problem("fail_alloc", "expected an array of integers");
    for (size_t i = 0; i < root["fail_alloc"].size(); ++i) {
      std::string key = "fail_alloc[" + std::to_string(i) + "]";
      uint64_t ordinal = Integer(root["fail_alloc"][i], key, ~0ull);
      if (ordinal == 0) Problem(key, "allocations are counted from 1");
      board->fail_alloc.push_back(ordinal);
    }
  }
  if (root.contains("fail_file")) board->fail_file = Choice(root["fail_file"], "fail_file", kFileFailureSpellings);
  if (root.contains("disk_free")) board->disk_free = Integer(root["disk_free"], "disk_free", ~0ull);
}

}  // namespace sim::board_keys
