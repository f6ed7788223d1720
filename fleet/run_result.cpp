// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/run_result.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "diff/compare/escaped_text.h"
#include "kit/result_text.h"

namespace fleet {
namespace {

constexpr size_t kLongestValue = 128;

std::string Text(ResultSpan span, size_t most) { return std::string(span.Data, std::min<size_t>(span.Length, most)); }

}  // namespace

std::optional<RunResult> ParseRunResult(const std::string& text, std::string* problem) {
  if (text.size() > kLongestResult) {
    *problem = "RESULT.TXT is longer than the kit writes";
    return std::nullopt;
  }
  ResultReading reading;
  ReadResultText(text.data(), static_cast<uint32_t>(text.size()), &reading);
  switch (reading.Problem) {
    case ResultProblem::None: break;
    case ResultProblem::NotText: *problem = "RESULT.TXT is not text (it holds control bytes)"; return std::nullopt;
    case ResultProblem::Empty: *problem = "RESULT.TXT is empty: the run was cut short"; return std::nullopt;
    case ResultProblem::NoVerdict: *problem = "RESULT.TXT names no verdict"; return std::nullopt;
  }
  RunResult result;
  result.verdict = pdiff::EscapedText(Text(reading.Verdict, kLongestValue));
  for (unsigned i = 0; i < reading.FieldCount; ++i)
    result.values.emplace_back(pdiff::EscapedText(Text(reading.Fields[i].Key, kLongestValue)),
                               pdiff::EscapedText(Text(reading.Fields[i].Value, kLongestValue)));
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
