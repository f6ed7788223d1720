// SPDX-License-Identifier: BSD-2-Clause-Patent
// A JSON document written as it is produced: one top-level object whose
// members are written in turn, arrays item by item, so that a report of
// many differences never holds them all as JSON values at once.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace pdiff {

class JsonStream {
 public:
  explicit JsonStream(std::ostream& out) : out_(out) { out_ << "{"; }

  void Member(const std::string& key, const nlohmann::json& value) {
    Key(key);
    Write(value);
  }
  void BeginArray(const std::string& key) {
    Key(key);
    out_ << "[";
    firstItem_ = true;
  }
  void Item(const nlohmann::json& value) {
    out_ << (firstItem_ ? "\n    " : ",\n    ");
    firstItem_ = false;
    Write(value);
  }
  // An item already serialized as JSON.
  void RawItem(const std::string& text) {
    out_ << (firstItem_ ? "\n    " : ",\n    ") << text;
    firstItem_ = false;
  }
  void EndArray() { out_ << (firstItem_ ? "]" : "\n  ]"); }
  // A member whose value the caller writes straight to the returned stream
  // (for values too large to hold as JSON at once).
  std::ostream& RawMember(const std::string& key) {
    Key(key);
    return out_;
  }
  void End() { out_ << (firstMember_ ? "}\n" : "\n}\n"); }

 private:
  void Key(const std::string& key) {
    out_ << (firstMember_ ? "\n  " : ",\n  ") << nlohmann::json(key).dump() << ": ";
    firstMember_ = false;
  }
  // Strings are escaped before they get here; replacing stays as the last
  // guard, so no input can make the output invalid or the writer throw.
  void Write(const nlohmann::json& value) {
    out_ << value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }

  std::ostream& out_;
  bool firstMember_ = true;
  bool firstItem_ = true;
};

}  // namespace pdiff
