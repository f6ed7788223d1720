// SPDX-License-Identifier: BSD-2-Clause-Patent
// The report page's copy of a JSON document, column by column: a chip of
// many thousand files would otherwise repeat every key and GUID per file
// and per map. The page (report_data.js) expands it back to the document.
//
// The compact form is {"page_data": 1, "strings": [...], "document": D}
// where D is the document with its arrays rewritten:
//   {"~t": [shapes, rows, columns]}  an array of objects (and nulls): shapes
//     lists each distinct key list, rows gives each element's shape (-1 for
//     null), columns holds per key the values of the elements that have it;
//   {"~s": I}  an array of strings, as indexes into "strings";
//   {"~b": "0110"}  an array of booleans;
//   {"~l": [lengths, items]}  an array of arrays, their items in one;
//   {"~d": [...]}  integers as differences from the one before;
//   {"~r": [d, n, ...]}  integers as n steps of d, run after run;
//   {"~o": {...}}  an object of the document whose one key begins with "~".
// Integer arrays (rows, lengths, I and columns of integers) take whichever
// of the plain list, "~d" and "~r" is shortest.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>

namespace pdiff {

nlohmann::json CompactPageData(const nlohmann::json& document);

// Documents up to this long are compacted: the form is built from the whole
// document held as JSON values (about ten times its text), so a larger one
// (hundreds of thousands of files) goes into the page as written, its
// memory bounded by the writer's, and the page reads either form.
constexpr size_t kPageDataMostCompacted = 48u << 20;

// Writes the document `writeData` writes to `out`, compacted when it is at
// most `mostCompacted` bytes long, else as it is written.
void WritePageData(std::ostream& out, const std::function<void(std::ostream&)>& writeData,
                   size_t mostCompacted = kPageDataMostCompacted);

}  // namespace pdiff
