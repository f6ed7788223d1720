// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the group step's board lines on arbitrary bytes, one
// line each. A line is refused with a reason or grouped; the text written
// then holds no control byte but its line ends (it reaches the terminal);
// a record written again as a line reads back into the same group.
#include <stddef.h>
#include <stdint.h>

#include <sstream>
#include <string>

#include "fleet/board_record.h"
#include "fleet/grouping.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  fleet::Grouper grouper;
  size_t from = 0;
  while (from <= input.size()) {
    size_t end = input.find('\n', from);
    if (end == std::string::npos) end = input.size();
    const std::string line = input.substr(from, end - from);
    from = end + 1;
    if (line.empty()) continue;
    std::string problem;
    const std::optional<fleet::BoardRecord> record = fleet::ParseRecordLine(line, &problem);
    if (!record) {
      if (problem.empty()) __builtin_trap();
      grouper.AddNotRead("line", problem);
      continue;
    }
    const std::optional<fleet::BoardRecord> again = fleet::ParseRecordLine(fleet::RecordLine(*record), &problem);
    if (!again || fleet::GroupKey(*again) != fleet::GroupKey(*record) || again->key != record->key) __builtin_trap();
    grouper.Add(*record);
  }
  std::ostringstream text;
  grouper.WriteText(text);
  for (const char c : text.str())
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F) __builtin_trap();
  std::ostringstream json;
  grouper.WriteJson(json);
  if (json.str().empty()) __builtin_trap();
  return 0;
}
