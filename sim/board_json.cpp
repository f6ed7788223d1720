// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_json.h"

#include <charconv>

namespace sim::board_json {

[[noreturn]] void Problem(const std::string& key, const std::string& problem) { throw KeyProblem{key, problem}; }

bool IsHexadecimal(const json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return text.size() >= 3 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) &&
         text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

uint64_t Integer(const json& value, const std::string& key, uint64_t max) {
  uint64_t result = 0;
  if (value.is_number_unsigned()) {
    result = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    if (value.get<int64_t>() < 0) Problem(key, "must not be negative");
    result = value.get<uint64_t>();
  } else if (value.is_string()) {
    if (!IsHexadecimal(value)) Problem(key, "expected an integer or a hexadecimal string such as \"0xFF\"");
    // Any length of digits is read; what does not fit 64 bits is out of range.
    const std::string& text = value.get_ref<const std::string&>();
    auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), result, 16);
    if (error != std::errc() || end != text.data() + text.size())
      Problem(key, "value " + text + " is out of range (at most " + std::to_string(max) + ")");
  } else {
    Problem(key, "expected an integer");
  }
  if (result > max)
    Problem(key, "value " + std::to_string(result) + " is out of range (at most " + std::to_string(max) + ")");
  return result;
}

bool Flag(const json& value, const std::string& key) {
  if (!value.is_boolean()) Problem(key, "expected true or false");
  return value.get<bool>();
}

void CheckKeys(const json& object, const std::string& where, const std::set<std::string>& known) {
  if (!object.is_object()) Problem(where.empty() ? "(top level)" : where, "expected an object");
  for (const auto& item : object.items())
    if (!known.count(item.key())) Problem(where.empty() ? item.key() : where + "." + item.key(), "unknown key");
}

}  // namespace sim::board_json
