// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/run_result.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "diff/compare/escaped_text.h"

namespace fleet {
namespace {

// More pairs than the kit writes are not kept: a hostile file stays small.
constexpr size_t kMostValues = 32;
constexpr size_t kLongestValue = 128;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<RunResult> ParseRunResult(const std::string& text, std::string* problem) {
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && !IsSpace(c)) || byte == 0x7F) {
      *problem = "RESULT.TXT is not text (it holds control bytes)";
      return std::nullopt;
    }
  }
  RunResult result;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    while (at < text.size() && IsSpace(text[at])) ++at;
    size_t end = at;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    if (end == at) break;
    const std::string word = text.substr(at, end - at);
    at = end;
    const size_t equals = word.find('=');
    if (first && equals == std::string::npos) {
      result.verdict = pdiff::EscapedText(word.substr(0, kLongestValue));
    } else if (equals != std::string::npos && equals > 0 && result.values.size() < kMostValues) {
      result.values.emplace_back(pdiff::EscapedText(word.substr(0, std::min(equals, kLongestValue))),
                                 pdiff::EscapedText(word.substr(equals + 1, kLongestValue)));
    }
    first = false;
  }
  if (result.verdict.empty()) {
    *problem = text.find_first_not_of(" \t\r\n") == std::string::npos ? "RESULT.TXT is empty: the run was cut short"
                                                                      : "RESULT.TXT names no verdict";
    return std::nullopt;
  }
  return result;
}

std::optional<RunResult> ReadRunResult(const std::string& path, std::string* problem) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *problem = std::string("RESULT.TXT cannot be opened: ") + std::strerror(errno);
    return std::nullopt;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *problem = "RESULT.TXT is not a regular file";
    return std::nullopt;
  }
  if (uint64_t(info.st_size) > kLongestResult) {
    close(fd);
    *problem = "RESULT.TXT is " + std::to_string(info.st_size) + " bytes, longer than the kit writes (at most " +
               std::to_string(kLongestResult) + "): not read";
    return std::nullopt;
  }
  std::string text(kLongestResult + 1, '\0');
  size_t count = 0;
  while (count < text.size()) {
    const ssize_t n = read(fd, text.data() + count, text.size() - count);
    if (n <= 0) break;
    count += size_t(n);
  }
  close(fd);
  if (count > kLongestResult) {
    *problem = "RESULT.TXT grew past " + std::to_string(kLongestResult) + " bytes while read: not read";
    return std::nullopt;
  }
  text.resize(count);
  return ParseRunResult(text, problem);
}

}  // namespace fleet
