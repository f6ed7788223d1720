// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/page_data_reader.h"

#include <map>
#include <string>
#include <vector>

namespace support {

using nlohmann::json;

namespace {

std::vector<int64_t> Integers(const json& value) {
  std::vector<int64_t> out;
  if (value.is_array()) {
    for (const json& n : value) out.push_back(n.get<int64_t>());
    return out;
  }
  int64_t current = 0;
  if (value.contains("~d")) {
    for (const json& delta : value["~d"]) out.push_back(current += delta.get<int64_t>());
    return out;
  }
  const json& runs = value["~r"];
  for (size_t i = 0; i + 1 < runs.size(); i += 2)
    for (int64_t n = 0; n < runs[i + 1].get<int64_t>(); ++n) out.push_back(current += runs[i].get<int64_t>());
  return out;
}

json Expand(const json& value, const json& strings) {
  if (value.is_array()) {
    json out = json::array();
    for (const json& element : value) out.push_back(Expand(element, strings));
    return out;
  }
  if (!value.is_object()) return value;
  if (value.size() == 1) {
    const std::string key = value.begin().key();
    const json& inner = value.begin().value();
    if (key == "~d" || key == "~r") return json(Integers(value));
    if (key == "~o") {
      json out = json::object();
      for (const auto& [name, member] : inner.items()) out[name] = Expand(member, strings);
      return out;
    }
    if (key == "~s") {
      json out = json::array();
      for (const int64_t index : Integers(inner)) out.push_back(strings.at(size_t(index)));
      return out;
    }
    if (key == "~b") {
      json out = json::array();
      for (const char bit : inner.get<std::string>()) out.push_back(bit == '1');
      return out;
    }
    if (key == "~l") {
      const json items = Expand(inner[1], strings);
      json out = json::array();
      size_t at = 0;
      for (const int64_t length : Integers(inner[0])) {
        json list = json::array();
        for (int64_t n = 0; n < length; ++n) list.push_back(items.at(at++));
        out.push_back(list);
      }
      return out;
    }
    if (key == "~t") {
      const json& shapes = inner[0];
      std::map<std::string, json> columns;
      std::map<std::string, size_t> taken;
      for (const auto& [name, column] : inner[2].items()) columns[name] = Expand(column, strings);
      json out = json::array();
      for (const int64_t shape : Integers(inner[1])) {
        if (shape < 0) {
          out.push_back(nullptr);
          continue;
        }
        json element = json::object();
        for (const json& name : shapes.at(size_t(shape)))
          element[name.get<std::string>()] = columns[name].at(taken[name]++);
        out.push_back(element);
      }
      return out;
    }
  }
  json out = json::object();
  for (const auto& [key, member] : value.items()) out[key] = Expand(member, strings);
  return out;
}

}  // namespace

json ExpandPageData(const json& held) {
  if (!held.is_object() || held.value("page_data", 0) != 1) return held;
  return Expand(held["document"], held["strings"]);
}

}  // namespace support
