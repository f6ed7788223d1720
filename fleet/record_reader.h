// SPDX-License-Identifier: BSD-2-Clause-Patent
// Board lines read back for the group step, one at a time and each of
// bounded length: a line longer than any record (or a file that is not
// lines at all) is listed, not held.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace fleet {

constexpr size_t kLongestRecordLine = 4 << 20;

// Calls `line` for each line of `file` ("-" for standard input) and
// `trouble` for each too long; false with `problem` when it cannot be read.
bool ReadLines(const std::string& file, const std::function<void(const std::string&, uint64_t number)>& line,
               const std::function<void(uint64_t number, const std::string& reason)>& trouble, std::string* problem);
// The same from a stream already open (not closed here).
bool ReadLinesFrom(FILE* in, const std::function<void(const std::string&, uint64_t number)>& line,
                   const std::function<void(uint64_t number, const std::string& reason)>& trouble,
                   std::string* problem);

}  // namespace fleet
