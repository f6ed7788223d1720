// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/page_data.h"

#include <algorithm>
#include <cstdint>
#include <streambuf>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pdiff {

using nlohmann::json;

namespace {

// Arrays shorter than this stay as they are: nothing to gain.
constexpr size_t kShortest = 4;

struct Encoder {
  std::unordered_map<std::string, int64_t> indexOf;
  json strings = json::array();

  int64_t StringIndex(const std::string& text) {
    const auto [at, added] = indexOf.emplace(text, int64_t(strings.size()));
    if (added) strings.push_back(text);
    return at->second;
  }

  static size_t TextLength(int64_t value) {
    size_t length = value < 0 ? 2 : 1;
    for (uint64_t rest = value < 0 ? uint64_t(-value) : uint64_t(value); rest >= 10; rest /= 10) ++length;
    return length;
  }

  // The shortest of the plain list, its differences and runs of them, told
  // apart by their lengths as text before any is built.
  static json Integers(const std::vector<int64_t>& values) {
    size_t plainLength = 0;
    size_t deltaLength = 0;
    std::vector<std::pair<int64_t, int64_t>> runs;
    int64_t previous = 0;
    for (const int64_t value : values) {
      const int64_t delta = value - previous;
      previous = value;
      plainLength += TextLength(value) + 1;
      deltaLength += TextLength(delta) + 1;
      if (!runs.empty() && runs.back().first == delta)
        ++runs.back().second;
      else
        runs.emplace_back(delta, 1);
    }
    size_t runLength = 0;
    for (const auto& [delta, count] : runs) runLength += TextLength(delta) + TextLength(count) + 2;
    constexpr size_t kWrapper = 8;  // {"~d":...}
    if (runLength + kWrapper < std::min(plainLength, deltaLength + kWrapper)) {
      json flat = json::array();
      for (const auto& [delta, count] : runs) flat.insert(flat.end(), {delta, count});
      return {{"~r", std::move(flat)}};
    }
    json list = json::array();
    if (deltaLength + kWrapper < plainLength) {
      previous = 0;
      for (const int64_t value : values) {
        list.push_back(value - previous);
        previous = value;
      }
      return {{"~d", std::move(list)}};
    }
    for (const int64_t value : values) list.push_back(value);
    return list;
  }

  json Table(const json& array) {
    std::map<std::vector<std::string>, int64_t> shapeIndex;
    json shapes = json::array();
    std::vector<int64_t> rows;
    std::vector<std::string> keyOrder;
    std::map<std::string, json> columns;
    for (const json& element : array) {
      if (element.is_null()) {
        rows.push_back(-1);
        continue;
      }
      std::vector<std::string> keys;
      for (const auto& [key, value] : element.items()) {
        keys.push_back(key);
        auto [column, added] = columns.emplace(key, json::array());
        if (added) keyOrder.push_back(key);
        column->second.push_back(value);
      }
      const auto [at, added] = shapeIndex.emplace(keys, int64_t(shapes.size()));
      if (added) shapes.push_back(keys);
      rows.push_back(at->second);
    }
    json encoded = json::object();
    for (const std::string& key : keyOrder) encoded[key] = Encode(columns[key]);
    return {{"~t", {shapes, Integers(rows), encoded}}};
  }

  json Array(const json& array) {
    if (array.size() < kShortest) {
      json copy = json::array();
      for (const json& element : array) copy.push_back(Encode(element));
      return copy;
    }
    auto all = [&array](bool (json::*test)() const noexcept) {
      for (const json& element : array)
        if (!(element.*test)()) return false;
      return true;
    };
    bool objects = false;
    bool objectsOrNull = true;
    for (const json& element : array) {
      objects = objects || element.is_object();
      objectsOrNull = objectsOrNull && (element.is_object() || element.is_null());
    }
    if (objects && objectsOrNull) return Table(array);
    if (all(&json::is_string)) {
      std::vector<int64_t> indexes;
      for (const json& element : array) indexes.push_back(StringIndex(element.get_ref<const std::string&>()));
      return {{"~s", Integers(indexes)}};
    }
    if (all(&json::is_boolean)) {
      std::string bits;
      for (const json& element : array) bits += element.get<bool>() ? '1' : '0';
      return {{"~b", bits}};
    }
    // Integers that JSON readers hold exactly (a double's 53 bits).
    constexpr int64_t kExact = int64_t(1) << 53;
    bool integers = true;
    for (const json& element : array)
      integers = integers &&
                 (element.is_number_integer() && element.get<int64_t>() > -kExact && element.get<int64_t>() < kExact &&
                  !(element.is_number_unsigned() && element.get<uint64_t>() >= uint64_t(kExact)));
    if (integers) {
      std::vector<int64_t> values;
      for (const json& element : array) values.push_back(element.get<int64_t>());
      json best = Integers(values);
      return best;
    }
    if (all(&json::is_array)) {
      std::vector<int64_t> lengths;
      json items = json::array();
      for (const json& element : array) {
        lengths.push_back(int64_t(element.size()));
        for (const json& item : element) items.push_back(item);
      }
      return {{"~l", {Integers(lengths), Encode(items)}}};
    }
    json copy = json::array();
    for (const json& element : array) copy.push_back(Encode(element));
    return copy;
  }

  json Encode(const json& value) {
    if (value.is_array()) return Array(value);
    if (!value.is_object()) return value;
    json copy = json::object();
    for (const auto& [key, member] : value.items()) copy[key] = Encode(member);
    // An object of one key that reads like an encoded array is marked as
    // an object.
    if (copy.size() == 1 && copy.begin().key().starts_with('~')) return {{"~o", std::move(copy)}};
    return copy;
  }
};

}  // namespace

namespace {

// Holds what is written up to a bound; past it, hands what it held and
// everything after straight to `out`.
class HoldUpTo : public std::streambuf {
 public:
  HoldUpTo(std::ostream& out, size_t most) : out_(out), most_(most) {}
  bool passing() const { return passing_; }
  const std::string& held() const { return held_; }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char one = traits_type::to_char_type(c);
    return xsputn(&one, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    if (!passing_ && held_.size() + size_t(count) > most_) {
      passing_ = true;
      out_.write(held_.data(), std::streamsize(held_.size()));
      std::string().swap(held_);
    }
    if (passing_) {
      out_.write(text, count);
      return out_ ? count : 0;
    }
    held_.append(text, size_t(count));
    return count;
  }

 private:
  std::ostream& out_;
  size_t most_;
  std::string held_;
  bool passing_ = false;
};

}  // namespace

void WritePageData(std::ostream& out, const std::function<void(std::ostream&)>& writeData, size_t mostCompacted) {
  HoldUpTo holder(out, mostCompacted);
  std::ostream text(&holder);
  writeData(text);
  if (holder.passing()) return;
  const json document = json::parse(holder.held(), nullptr, false);
  if (document.is_discarded()) {
    out << holder.held();
    return;
  }
  out << CompactPageData(document).dump(-1, ' ', false, json::error_handler_t::replace);
}

json CompactPageData(const json& document) {
  Encoder encoder;
  json encoded = encoder.Encode(document);
  return {{"page_data", 1}, {"strings", std::move(encoder.strings)}, {"document", std::move(encoded)}};
}

}  // namespace pdiff
