// SPDX-License-Identifier: BSD-2-Clause-Patent
// Texts read from a dump (model names, part numbers, file names) or given on
// the command line, made safe to print and to put into JSON: control
// characters and bytes that are not UTF-8 become "\xNN", so no escape
// sequence reaches a terminal and every JSON string is valid.
#pragma once

#include <string>
#include <string_view>

namespace pdiff {

std::string EscapedText(std::string_view text);

// True when `text` is well-formed UTF-8 as JSON takes it: no overlong forms,
// no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text);

}  // namespace pdiff
