// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/command_line.h"

#include <charconv>

#include "diff/compare/escaped_text.h"

#ifndef PELLRIX_VERSION
#define PELLRIX_VERSION "0.1.0"
#endif

namespace fleet {

const char* const kUsage =
    "usage: pellrix-fleet [OPTIONS] GOLDEN INPUT... | pellrix-fleet signature GOLDEN INPUT | pellrix-fleet group "
    "[--json] [--html OUT.html] FILE... (--help lists the options)";

const char* const kHelp =
    "pellrix-fleet: many boards measured against their golden firmware, grouped by what differs.\n\n"
    "usage: pellrix-fleet [OPTIONS] GOLDEN INPUT...\n"
    "       pellrix-fleet signature [--cache FILE] GOLDEN INPUT\n"
    "       pellrix-fleet group [--json] [--html OUT.html] FILE...\n\n"
    "GOLDEN is a saved chip or BIOS region, or a UEFI or FMP capsule carrying one. Each INPUT\n"
    "is a dump, a board folder (MAIN.BIN, BACKUP.BIN, RESULT.TXT: a kit RUN folder), or a\n"
    "folder searched for both. signature writes one JSON line per board (the map); group reads\n"
    "such lines (FILE, or - for standard input) and groups them as a whole run does (the reduce).\n\n"
    "  --json          one JSON document instead of the text\n"
    "  --jsonl         one JSON line per board, as they are done\n"
    "  --html OUT.html also draw the groups as one self-contained page, with the first board's\n"
    "                  Main against Backup drawn for the largest groups (replaces OUT.html whole:\n"
    "                  a new name or an earlier page only, never standard output)\n"
    "  --cache FILE    keep each chip's hash and signature and each board's own verdict in FILE,\n"
    "                  by path, size, times and inode (a new name or a cache written before)\n"
    "  --jobs N        worker threads (default: one per core)\n"
    "  --help, --version\n"
    "  --              end of the options\n\n"
    "Exit status: 0 every board matches golden, 1 some differ (or a run without dumps\n"
    "failed), 2 trouble: an input was not read, or the golden image was refused.\n";

std::string VersionText() { return std::string("pellrix-fleet ") + PELLRIX_VERSION + "\n"; }

std::optional<Arguments> ParseArguments(int argc, const char* const* argv, std::string* problem) {
  Arguments arguments;
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "signature") {
    arguments.mode = Mode::Signature;
    first = 2;
  } else if (argc > 1 && std::string(argv[1]) == "group") {
    arguments.mode = Mode::Group;
    first = 2;
  }
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string> attached;
    if (const size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      attached = argument.substr(equals + 1);
      argument.resize(equals);
    }
    const bool takesValue = argument == "--cache" || argument == "--jobs" || argument == "--html";
    if (!takesValue && attached) {
      *problem = "option " + pdiff::EscapedText(argument) + " takes no value";
      return std::nullopt;
    }
    if (takesValue && !attached && i + 1 >= argc) {
      *problem = "option " + argument + " needs a value";
      return std::nullopt;
    }
    if (argument == "--json") {
      arguments.json = true;
    } else if (argument == "--jsonl") {
      arguments.jsonl = true;
    } else if (argument == "--help" || argument == "-h") {
      arguments.help = true;
    } else if (argument == "--version") {
      arguments.version = true;
    } else if (argument == "--cache") {
      arguments.cache = attached ? *attached : argv[++i];
    } else if (argument == "--html") {
      arguments.htmlPage = attached ? *attached : argv[++i];
    } else if (argument == "--jobs") {
      const std::string text = attached ? *attached : argv[++i];
      uint32_t jobs = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
      if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > 64) {
        *problem = "option --jobs needs a number from 1 to 64, not " + pdiff::EscapedText(text);
        return std::nullopt;
      }
      arguments.jobs = jobs;
    } else {
      *problem = "unknown option " + pdiff::EscapedText(argument);
      return std::nullopt;
    }
  }
  if (arguments.help || arguments.version) return arguments;
  if (arguments.json && arguments.jsonl) {
    *problem = "--json and --jsonl exclude each other";
    return std::nullopt;
  }
  if (arguments.mode == Mode::Group) {
    if (operands.empty()) {
      *problem = "group needs at least one FILE of board lines (- for standard input)";
      return std::nullopt;
    }
    if (arguments.cache || arguments.jsonl) {
      *problem = "group takes only --json and --html";
      return std::nullopt;
    }
    arguments.inputs = operands;
    return arguments;
  }
  if (arguments.mode == Mode::Signature && operands.size() != 2) {
    *problem = "signature takes GOLDEN and one INPUT";
    return std::nullopt;
  }
  if (operands.size() < 2) {
    *problem = "a golden image and at least one INPUT are needed";
    return std::nullopt;
  }
  if (arguments.mode == Mode::Signature && (arguments.json || arguments.htmlPage)) {
    *problem = "signature writes JSON lines only";
    return std::nullopt;
  }
  arguments.golden = operands[0];
  arguments.inputs.assign(operands.begin() + 1, operands.end());
  return arguments;
}

}  // namespace fleet
