// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: pellrix-diff's own code. The input holds a command line
// (up to the first NUL, one argument per line) and two dumps (the rest, cut
// in half). The arguments go through the parser; the dumps through loading,
// the file-tree comparison and the report the command line asks for (text or
// JSON, of the comparison or, with --info, of Main alone; with --html the
// JSON in the form a report page embeds). JSON must always parse and the
// text must never carry a raw escape character. Seeds of a few KiB
// (tests/fuzz/corpus/diff) keep a run well under a millisecond.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "diff/compare/chip_dump.h"
#include "diff/command_line.h"
#include "diff/compare/comparison.h"
#include "diff/report/info_json.h"
#include "diff/report/info_report.h"
#include "diff/report/report.h"

namespace {

// In memory where the system has a tmpfs: every run writes both dumps.
std::string Directory() {
  static std::string directory = [] {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string name = (base / "pellrix-fuzz-diff-XXXXXX").string();
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

// Larger regions (from a descriptor, --bios-size or --flash-size) only run
// the same code over more erased bytes, a thousand times slower.
bool Small(const pdiff::ChipDump& dump, const pdiff::CompareOptions& options) {
  for (const pdiff::Geometry& geometry : {pdiff::BoardGeometry(dump, options), pdiff::BoardGeometry(dump, {})})
    if (geometry.biosSize > (1u << 20) || geometry.flashSize > (1u << 20)) return false;
  return true;
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
  // One dump for --info, as the program takes it; two for a comparison.
  const bool info = std::find(words.begin(), words.end(), "--info") != words.end();
  words.push_back(Directory() + "/MAIN.BIN");
  if (!info) words.push_back(Directory() + "/BACKUP.BIN");
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
  if (!main.Load(Directory() + "/MAIN.BIN", &problem) || !Small(main, arguments->options)) return 0;
  // The report the command line asks for, as the program writes one.
  if (arguments->info) {
    std::ostringstream out;
    if (arguments->json) {
      pdiff::WriteInfoJson(out, main);
      CheckJson(out.str());
    } else {
      pdiff::PrintInfoReport(out, main);
      if (out.str().find('\x1b') != std::string::npos) __builtin_trap();
    }
    return 0;
  }
  pdiff::ChipDump backup;
  if (!backup.Load(Directory() + "/BACKUP.BIN", &problem) || !Small(backup, arguments->options)) return 0;
  if (!pdiff::GeometryTrouble(main, arguments->options).empty() ||
      !pdiff::GeometryTrouble(backup, arguments->options).empty())
    return 0;
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, arguments->options);
  std::ostringstream out;
  if (arguments->htmlPage) {
    // The form a report page embeds: every list of ranges as spans.
    pdiff::WriteJsonReport(out, main, backup, comparison, arguments->options.rawMasked, 0);
    CheckJson(out.str());
  } else if (arguments->json) {
    pdiff::WriteJsonReport(out, main, backup, comparison, arguments->options.rawMasked);
    CheckJson(out.str());
  } else {
    pdiff::PrintTextReport(out, main, backup, comparison, arguments->options.rawMasked, arguments->maxRanges);
    if (out.str().find('\x1b') != std::string::npos) __builtin_trap();
  }
  return 0;
}
