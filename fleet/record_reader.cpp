// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/record_reader.h"

#include <cerrno>
#include <cstring>

namespace fleet {

bool ReadLines(const std::string& file, const std::function<void(const std::string&, uint64_t number)>& line,
               const std::function<void(uint64_t number, const std::string& reason)>& trouble, std::string* problem) {
  FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
  if (!in) {
    *problem = std::strerror(errno);
    return false;
  }
  const bool read = ReadLinesFrom(in, line, trouble, problem);
  if (in != stdin) std::fclose(in);
  return read;
}

bool ReadLinesFrom(FILE* in, const std::function<void(const std::string&, uint64_t number)>& line,
                   const std::function<void(uint64_t number, const std::string& reason)>& trouble,
                   std::string* problem) {
  std::string text;
  uint64_t number = 0;
  bool tooLong = false;
  int c = 0;
  while ((c = getc_unlocked(in)) != EOF) {
    if (c != '\n') {
      if (text.size() < kLongestRecordLine)
        text.push_back(char(c));
      else
        tooLong = true;
      continue;
    }
    ++number;
    if (tooLong)
      trouble(number, "longer than " + std::to_string(kLongestRecordLine) + " bytes: not a board line");
    else if (!text.empty())
      line(text, number);
    text.clear();
    tooLong = false;
  }
  if (!text.empty() || tooLong) {
    ++number;
    if (tooLong)
      trouble(number, "longer than " + std::to_string(kLongestRecordLine) + " bytes: not a board line");
    else
      line(text, number);
  }
  const bool failed = std::ferror(in) != 0;
  if (failed) *problem = "read error";
  return !failed;
}

}  // namespace fleet
