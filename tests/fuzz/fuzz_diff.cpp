// libFuzzer target: pellrix-diff's own code. The input holds a command line
// (up to the first NUL, one argument per line) and two dumps (the rest, cut
// in half). The arguments go through the parser; the dumps through loading,
// the file-tree comparison and all three reports (the JSON also in the form a
// report page embeds). JSON must always parse and the text must never carry
// a raw escape character.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "diff/chip_dump.h"
#include "diff/command_line.h"
#include "diff/comparison.h"
#include "diff/info_json.h"
#include "diff/report.h"

namespace {

std::string Directory() {
  static std::string directory = [] {
    std::string name = (std::filesystem::temp_directory_path() / "pellrix-fuzz-diff-XXXXXX").string();
    return std::string(mkdtemp(name.data()) != nullptr ? name : ".");
  }();
  return directory;
}

std::string WriteDump(const char* name, const uint8_t* data, size_t size) {
  const std::string path = Directory() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) __builtin_trap();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  return path;
}

void CheckJson(const std::string& text) {
  if (!nlohmann::json::accept(text)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t commandSize = end != nullptr ? size_t(end - data) : size;
  std::vector<std::string> words = {"pellrix-diff"};
  std::string word;
  for (size_t i = 0; i < commandSize; ++i) {
    if (data[i] == '\n') {
      words.push_back(word);
      word.clear();
    } else {
      word += char(data[i]);
    }
  }
  words.push_back(word);
  words.push_back(Directory() + "/MAIN.BIN");
  words.push_back(Directory() + "/BACKUP.BIN");
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  std::string problem;
  std::optional<pdiff::Arguments> arguments = pdiff::ParseArguments(int(argv.size()), argv.data(), &problem);
  if (!arguments) {
    if (problem.empty() || problem.find('\x1b') != std::string::npos) __builtin_trap();
    arguments = pdiff::Arguments{};
  }

  const size_t rest = end != nullptr ? size - commandSize - 1 : 0;
  const uint8_t* dumps = end != nullptr ? end + 1 : data + size;
  if (rest < 2) return 0;
  WriteDump("MAIN.BIN", dumps, rest / 2);
  WriteDump("BACKUP.BIN", dumps + rest / 2, rest - rest / 2);
  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  if (!main.Load(Directory() + "/MAIN.BIN", &problem) || !backup.Load(Directory() + "/BACKUP.BIN", &problem)) return 0;
  {
    pdiff::ChipDump info;
    if (info.Load(Directory() + "/MAIN.BIN", &problem)) {
      std::ostringstream out;
      pdiff::WriteInfoJson(out, info);
      CheckJson(out.str());
    }
  }
  if (!pdiff::GeometryTrouble(main, arguments->options).empty() ||
      !pdiff::GeometryTrouble(backup, arguments->options).empty())
    return 0;
  const pdiff::Geometry geometry = pdiff::BoardGeometry(main, arguments->options);
  if (geometry.biosSize > (256u << 20) || geometry.flashSize > (uint64_t(1) << 32)) return 0;
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, arguments->options);
  std::ostringstream json;
  pdiff::WriteJsonReport(json, main, backup, comparison, arguments->options.rawMasked);
  CheckJson(json.str());
  // The form a report page embeds: every list of ranges as spans.
  std::ostringstream spans;
  pdiff::WriteJsonReport(spans, main, backup, comparison, arguments->options.rawMasked, 0);
  CheckJson(spans.str());
  std::ostringstream text;
  pdiff::PrintTextReport(text, main, backup, comparison, arguments->options.rawMasked, arguments->maxRanges);
  if (text.str().find('\x1b') != std::string::npos) __builtin_trap();
  return 0;
}
