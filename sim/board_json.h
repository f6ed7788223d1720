// SPDX-License-Identifier: BSD-2-Clause-Patent
// Reading the values of a board description: integers (also as hexadecimal
// strings), choices, flags and key checks. A bad value is reported by naming
// its key; the loader turns that into one line for the user.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>

#include "record/board_vocabulary.h"

namespace sim::board_json {

using nlohmann::json;

// Thrown inside the loader only; turned into a BoardError at its edge.
struct KeyProblem {
  std::string key;
  std::string problem;
};

[[noreturn]] void Problem(const std::string& key, const std::string& problem);

// "0x" or "0X" and 1 to 16 hexadecimal digits.
bool IsHexadecimal(const json& value);

// A non-negative integer of at most `max`, given as a number or as a
// hexadecimal string.
uint64_t Integer(const json& value, const std::string& key, uint64_t max);

bool Flag(const json& value, const std::string& key);

// `object` must be an object holding no other keys than `known`.
void CheckKeys(const json& object, const std::string& where, const std::set<std::string>& known);

// One of the named choices (a spelling table of the board vocabulary, or the
// simulator's own).
template <typename Enum, size_t N>
Enum Choice(const json& value, const std::string& key, const Spelling<Enum> (&choices)[N]) {
  std::string names;
  if (value.is_string()) {
    for (const auto& choice : choices)
      if (value.get<std::string>() == choice.text) return choice.mode;
  }
  for (const auto& choice : choices) names += std::string(names.empty() ? "" : ", ") + "\"" + choice.text + "\"";
  Problem(key, "expected one of " + names);
}

}  // namespace sim::board_json
