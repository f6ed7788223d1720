// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/html_page.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "diff/report/escaped_text.h"
#include "page_template.h"  // generated from diff/html/ at build time

namespace pdiff {

namespace {

// Passes JSON through with every "<" written as \u003c: outside strings
// JSON has none, and inside one the escape reads the same, so no text of a
// dump can close the script element that holds the document.
class ScriptSafeBuffer : public std::streambuf {
 public:
  explicit ScriptSafeBuffer(std::ostream& out) : out_(out) {}

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = char(c);
    xsputn(&ch, 1);
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    const char* end = text + count;
    while (text < end) {
      const char* angle = static_cast<const char*>(std::memchr(text, '<', size_t(end - text)));
      const char* stop = angle != nullptr ? angle : end;
      out_.write(text, stop - text);
      if (angle == nullptr) break;
      out_ << "\\u003c";
      text = angle + 1;
    }
    return count;
  }

 private:
  std::ostream& out_;
};

std::string HtmlText(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '<')
      escaped += "&lt;";
    else if (c == '>')
      escaped += "&gt;";
    else if (c == '&')
      escaped += "&amp;";
    else if (c == '"')
      escaped += "&quot;";
    else
      escaped += c;
  }
  return escaped;
}

// The template with its two holes filled: "@TOOL@" with the tool's version,
// "@DATA@" with the document.
void WriteFilledTemplate(std::ostream& out, const std::string& toolVersion,
                         const std::function<void(std::ostream&)>& writeData) {
  const std::string_view page = kPageTemplate;
  size_t from = 0;
  while (from < page.size()) {
    const size_t tool = page.find("@TOOL@", from);
    const size_t data = page.find("@DATA@", from);
    const size_t next = std::min(tool, data);
    out.write(page.data() + from, std::streamsize(std::min(next, page.size()) - from));
    if (next == std::string_view::npos) break;
    if (next == tool) {
      out << HtmlText(toolVersion);
    } else {
      ScriptSafeBuffer safe(out);
      std::ostream json(&safe);
      writeData(json);
    }
    from = next + 6;
  }
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

// Where the page goes and with which mode: a regular file (reached through
// any links, which stay) keeps its mode; a name not yet taken gets a new
// file's. Anything else (a device, a pipe, a folder, a link to nothing) is
// refused: renaming over it would replace a device node or a pipe with a
// file. Empty on success, else the reason.
std::string PageDestination(const std::string& target, std::string* destination, mode_t* mode) {
  struct stat link {};
  if (lstat(target.c_str(), &link) != 0) {
    if (errno != ENOENT) return EscapedText(target) + ": " + std::strerror(errno);
    *destination = target;
    const mode_t mask = umask(0);
    umask(mask);
    *mode = 0666 & ~mask;
    return "";
  }
  std::string resolved = target;
  if (S_ISLNK(link.st_mode)) {
    std::error_code error;
    resolved = std::filesystem::canonical(target, error).string();
    if (error) return "--html " + EscapedText(target) + " is a link to nothing that can be read: give a file name";
  }
  struct stat file {};
  if (stat(resolved.c_str(), &file) != 0) return EscapedText(target) + ": " + std::strerror(errno);
  if (!S_ISREG(file.st_mode)) {
    const char* what = S_ISDIR(file.st_mode)                            ? "a folder"
                       : S_ISFIFO(file.st_mode)                         ? "a pipe"
                       : S_ISCHR(file.st_mode) || S_ISBLK(file.st_mode) ? "a device"
                                                                        : "not a regular file";
    return "--html " + EscapedText(target) + " is " + what + ": the page goes only to a regular file or a new name";
  }
  *destination = resolved;
  *mode = file.st_mode & 07777;
  return "";
}

}  // namespace

std::string HtmlTargetTrouble(const std::string& target, const std::vector<std::string>& inputs) {
  if (target.empty() || target == "-") return "--html needs a file name; the page cannot go to standard output";
  for (const std::string& input : inputs)
    if (SameFile(target, input)) return "--html " + EscapedText(target) + " is one of the dumps read";
  std::string destination;
  mode_t mode = 0;
  return PageDestination(target, &destination, &mode);
}

bool WriteHtmlPage(const std::string& target, const std::string& toolVersion,
                   const std::function<void(std::ostream&)>& writeData, std::string* problem) {
  std::string destination;
  mode_t mode = 0;
  // Asked again: the name may have changed since the command started.
  *problem = PageDestination(target, &destination, &mode);
  if (!problem->empty()) return false;
  const std::filesystem::path path(destination);
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string hidden = ".";
  hidden += path.filename().string();
  hidden += ".XXXXXX";
  std::string temporary = (folder / hidden).string();
  const int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) {
    *problem = EscapedText(target) + ": cannot write beside it: " + std::strerror(errno);
    return false;
  }
  // A new page is readable as any new file would be; a page written over
  // keeps the mode it had.
  fchmod(descriptor, mode);
  close(descriptor);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  WriteFilledTemplate(out, toolVersion, writeData);
  out.close();
  if (!out) {
    *problem = EscapedText(target) + ": write error";
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), destination.c_str()) != 0) {
    *problem = EscapedText(target) + ": cannot replace it: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace pdiff
