// pellrix-diff: explains the difference between two saved chips the way the
// board's comparison test sees them.
//   pellrix-diff [--json] [--no-mask] [--block-size N] MAIN.BIN BACKUP.BIN
//   pellrix-diff --info FILE
// Exit status: 0 when the board's test would pass, 1 when it would fail,
// 2 on trouble (with one line on standard error).
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "diff/chip_dump.h"
#include "diff/comparison.h"
#include "diff/info_report.h"
#include "diff/report.h"
#include "diff/text_format.h"

namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kTrouble = 2;
// No flash part is larger; a descriptor that claims more is not believed.
constexpr uint64_t kLargestRegion = 256ull << 20;

struct Arguments {
  bool json = false;
  bool info = false;
  pdiff::CompareOptions options;
  std::vector<std::string> files;
};

int Trouble(const std::string& message) {
  std::cerr << "pellrix-diff: " << message << "\n";
  return kTrouble;
}

const char* kUsage = "usage: pellrix-diff [--json] [--no-mask] [--block-size N] MAIN.BIN BACKUP.BIN | --info FILE";

std::optional<Arguments> Parse(int argc, char** argv, std::string* problem) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--json") {
      arguments.json = true;
    } else if (argument == "--no-mask") {
      arguments.options.rawMasked = true;
    } else if (argument == "--info") {
      arguments.info = true;
    } else if (argument == "--block-size") {
      char* end = nullptr;
      const unsigned long long value = i + 1 < argc ? std::strtoull(argv[i + 1], &end, 0) : 0;
      if (i + 1 >= argc || *end != 0 || value == 0 || value > 0xFFFFFFFFu) {
        *problem = "--block-size needs a number from 1 to 0xFFFFFFFF";
        return std::nullopt;
      }
      arguments.options.blockSize = uint32_t(value);
      ++i;
    } else if (argument.size() > 1 && argument[0] == '-') {
      *problem = "unknown option " + argument;
      return std::nullopt;
    } else {
      arguments.files.push_back(argument);
    }
  }
  if (arguments.files.size() != (arguments.info ? 1u : 2u)) {
    *problem = kUsage;
    return std::nullopt;
  }
  return arguments;
}

bool Load(pdiff::ChipDump& dump, const std::string& path, std::string* problem) {
  if (!dump.Load(path, problem)) {
    *problem = path + ": " + *problem;
    return false;
  }
  return true;
}

bool RegionFits(const pdiff::ChipDump& dump, const pdiff::Geometry& geometry, std::string* problem) {
  if (geometry.biosSize <= kLargestRegion) return true;
  *problem = dump.path() + ": descriptor claims a BIOS region of " + pdiff::Hex(geometry.biosSize) + " bytes";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string problem;
  const std::optional<Arguments> arguments = Parse(argc, argv, &problem);
  if (!arguments) return Trouble(problem);

  if (arguments->info) {
    pdiff::ChipDump dump;
    if (!Load(dump, arguments->files[0], &problem)) return Trouble(problem);
    if (!RegionFits(dump, pdiff::BoardGeometry(dump, {}), &problem)) return Trouble(problem);
    pdiff::PrintInfoReport(std::cout, dump);
    return std::cout.flush() ? kPass : Trouble("standard output: write error");
  }

  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  if (!Load(main, arguments->files[0], &problem) || !Load(backup, arguments->files[1], &problem))
    return Trouble(problem);
  if (!RegionFits(main, pdiff::BoardGeometry(main, arguments->options), &problem)) return Trouble(problem);
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, arguments->options);
  if (arguments->json)
    std::cout << pdiff::JsonReport(main, backup, comparison, arguments->options.rawMasked).dump(2) << "\n";
  else
    pdiff::PrintTextReport(std::cout, main, backup, comparison, arguments->options.rawMasked);
  if (!std::cout.flush()) return Trouble("standard output: write error");
  return comparison.verdict.pass ? kPass : kFail;
}
