// SPDX-License-Identifier: BSD-2-Clause-Patent
// The report page's compact document: read back, it is the document it was
// made from, whatever the arrays hold; and a list of many files shrinks.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "diff/report/page_data.h"
#include "tests/support/page_data_reader.h"

namespace {

using nlohmann::json;

// Catches a value lost, reordered or changed on the way: rows of objects
// with different keys and nulls among them, integers past a double's 53
// bits, falling and repeating runs, short and empty arrays, arrays of
// arrays, mixed arrays, text that a page must not misread.
TEST(PageData, EveryDocumentReadsBackAsItWas) {
  const int64_t big = int64_t(1) << 53;
  const json cases[] = {
      json::parse(R"({"files": [{"guid": "A", "main": {"flash_offset": 16, "size": 8}, "backup": null},
                                {"guid": "B", "main": null, "backup": {"flash_offset": 32, "size": 8}},
                                null, {"guid": "C", "extra": [1, 2], "main": null, "backup": null},
                                {"guid": "A", "main": {"flash_offset": 16}, "backup": null}]})"),
      json{{"n", {0, big - 1, -(big - 1), 3, 3, 3, 3, 3, 3}},
           {"huge", {std::numeric_limits<uint64_t>::max(), 1, 2, 3}},
           {"runs", {10, 20, 30, 40, 50, 60, 5, 4, 3, 2, 1}}},
      json{{"empty", json::array()}, {"short", {1, "a"}}, {"one", {json::object()}}, {"nothing", nullptr}},
      json{{"paths", {json::array(), {"X", "Y"}, {"X"}, json::array(), {"Z", "X", "Y"}}},
           {"bits", {true, false, false, true, true}},
           {"mixed", {1, "1", 1.5, true, nullptr, json::array(), json::object()}}},
      json{{"text", {"</script><!--", "\u202e", "", "\"quoted\"", "~t", "</script><!--"}},
           {"objects", {{{"~t", 1}}, {{"~s", "x"}}, {{"~d", {1}}}, {{"page_data", 1}}}}},
  };
  // An object of the document whose one key reads like a compact form's.
  const json lookalikes = json::parse(R"({"alone": {"~t": 1}, "also": {"~o": {"~s": [0]}}, "list": [{"~b": "1"}]})");
  EXPECT_EQ(support::ExpandPageData(pdiff::CompactPageData(lookalikes)), lookalikes);
  for (const json& document : cases) {
    const json compact = pdiff::CompactPageData(document);
    EXPECT_EQ(support::ExpandPageData(compact), document) << compact.dump();
  }
}

// Catches the compact form repeating per file what files share (keys,
// GUIDs of both maps, offsets): 2,000 files as --json and the page's layout
// give them take under a quarter of the plain text.
TEST(PageData, ManyFilesShrink) {
  json files = json::array();
  json layout = json::array();
  for (int n = 0; n < 2000; ++n) {
    const std::string guid = "B0A1" + std::to_string(10000 + n) + "-5150-4A4A-0102-030405060721";
    const json place = {{"flash_offset", 0x800000 + 64 * n}, {"size", 62}};
    files.push_back({{"guid", guid},
                     {"index", 0},
                     {"name", "File" + std::to_string(n)},
                     {"change", "changed"},
                     {"compressed", false},
                     {"path", {"8C8CE578-8A3D-4F1C-9935-896185C32DD3"}},
                     {"type_name", "FREEFORM"},
                     {"main", place},
                     {"backup", place}});
    layout.push_back({{"guid", guid},
                      {"name", "File" + std::to_string(n)},
                      {"flash_offset", 0x800000 + 64 * n},
                      {"size", 62},
                      {"path", {"8C8CE578-8A3D-4F1C-9935-896185C32DD3"}}});
  }
  const json document = {{"files", files},
                         {"dumps", {{{"layout", {{"files", layout}}}}, {{"layout", {{"files", layout}}}}}}};
  const json compact = pdiff::CompactPageData(document);
  EXPECT_LT(compact.dump().size(), document.dump().size() / 4);
  EXPECT_EQ(support::ExpandPageData(compact), document);
}

// Catches a document over the bound still held whole as JSON values (the
// page of 500,000 files took gigabytes), and one under it not compacted.
TEST(PageData, OnlyDocumentsUpToTheBoundAreCompacted) {
  const json document = {{"files", json::array({{{"guid", "A"}, {"size", 1}},
                                                {{"guid", "B"}, {"size", 2}},
                                                {{"guid", "C"}, {"size", 3}},
                                                {{"guid", "D"}, {"size", 4}}})}};
  const std::string text = document.dump();
  for (const size_t bound : {text.size() - 1, text.size(), size_t(1) << 20}) {
    std::ostringstream out;
    pdiff::WritePageData(
        out, [&](std::ostream& data) { data << text.substr(0, 7) << text.substr(7); }, bound);
    const json written = json::parse(out.str());
    EXPECT_EQ(written.contains("page_data"), bound >= text.size()) << bound;
    EXPECT_EQ(support::ExpandPageData(written), document) << bound;
  }
}

}  // namespace
