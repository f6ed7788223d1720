// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/html_page.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "diff/compare/replaced_file.h"
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

}  // namespace

std::string HtmlTargetTrouble(const std::string& target, const std::vector<std::string>& inputs) {
  std::string destination;
  mode_t mode = 0;
  return ReplaceTarget({"--html", inputs, nullptr}, target, &destination, &mode);
}

bool WriteHtmlPage(const std::string& target, const std::string& toolVersion,
                   const std::function<void(std::ostream&)>& writeData, std::string* problem) {
  return ReplaceFile(
      {"--html", {}, nullptr}, target, [&](std::ostream& out) { WriteFilledTemplate(out, toolVersion, writeData); },
      problem);
}

}  // namespace pdiff
