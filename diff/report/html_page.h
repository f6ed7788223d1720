// SPDX-License-Identifier: BSD-2-Clause-Patent
// The report drawn as one self-contained HTML page: the page's script and
// styles (diff/html/, built into the program) and, once, the same JSON
// document the report's --json form writes, from which the page draws
// everything it shows.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace pdiff {

// More differing ranges than this are embedded as spans of the flash: the
// page draws ranges per pixel anyway, and stays small for any count. A range
// listed in full takes up to about 2 KB (its files' names and paths on both
// chips), so the list stays near 1 MB at most.
constexpr uint64_t kPageMostRanges = 512;
// Beyond that, this many ranges of the lists in all go in as three numbers
// each, about 2 MB at most, so that a narrow view draws them exactly.
constexpr uint64_t kPageExactRanges = 65536;

// Why `target` cannot take the page ("-", one of the `inputs`, or anything
// but a regular file or a name not yet taken), or empty.
std::string HtmlTargetTrouble(const std::string& target, const std::vector<std::string>& inputs);

// Writes the page beside `target` and renames it over `target`, so that an
// earlier page is replaced whole (keeping its mode) or left as it was; a
// link to a page is followed and stays. `writeData` writes the
// JSON document. False with a one-line `problem`.
bool WriteHtmlPage(const std::string& target, const std::string& toolVersion,
                   const std::function<void(std::ostream&)>& writeData, std::string* problem);

}  // namespace pdiff
