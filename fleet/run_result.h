// SPDX-License-Identifier: BSD-2-Clause-Patent
// RESULT.TXT as the field kit writes it, read with the kit's own reader
// (kit/result_text.h): a verdict word and key=value statuses ("FAIL
// comparison=0x8E save-main=0x80 ..."), then the board's identity and date.
// Read defensively: a file the kit cannot have written (too long, not text)
// is refused with its reason, never read whole.
#pragma once

#include <optional>
#include <string>

#include "fleet/board_record.h"
#include "kit/result_text.h"

namespace fleet {

// The kit writes a few short lines; a longer file is not its.
constexpr uint64_t kLongestResult = kLongestResultText;

// Parses the text of RESULT.TXT. Null with a reason when it is not text or
// holds no verdict.
std::optional<RunResult> ParseRunResult(const std::string& text, std::string* problem);

// Opens, checks and parses RESULT.TXT at `path` (never a FIFO, never more
// than kLongestResult bytes read).
std::optional<RunResult> ReadRunResult(const std::string& path, std::string* problem);

}  // namespace fleet
