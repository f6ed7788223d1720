// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/command_line.h"

#include <cctype>
#include <charconv>

#include "diff/report/escaped_text.h"
#include "pellrix_version.h"

namespace pdiff {

const char* const kUsage =
    "usage: pellrix-diff [OPTIONS] MAIN.BIN BACKUP.BIN | pellrix-diff --info [--json] FILE (--help lists the options)";

const char* const kHelp =
    "pellrix-diff: the board's comparison test replayed on two saved chips, and the firmware\n"
    "files that differ between them.\n\n"
    "usage: pellrix-diff [OPTIONS] MAIN.BIN BACKUP.BIN\n"
    "       pellrix-diff --info [--json] [--html OUT.html] FILE\n\n"
    "  --json            one JSON document instead of the text report\n"
    "  --html OUT.html   also draw the report as one self-contained page (replaces OUT.html whole)\n"
    "  --html-bytes N    bytes of both chips the page embeds to show them (default 262144, 0 none)\n"
    "  --no-mask         also list the raw differences inside the areas the board masks\n"
    "  --strict          exit 1 when any byte of the two files differs (any region, masked\n"
    "                    areas, length), 0 only when they are byte-identical\n"
    "  --max-ranges N    differing byte ranges listed in the text report (default 100)\n"
    "  --block-size N    the block size the board's mailbox reports (default: the descriptor's)\n"
    "  --bios-size N     the BIOS size the board's mailbox reports (default: the descriptor's)\n"
    "  --flash-size N    the flash size the board's mailbox reports (default: the descriptor's)\n"
    "  --info            describe one dump: descriptor, volumes, files, masks\n"
    "  --help, --version\n"
    "  --                end of the options\n\n"
    "Numbers are decimal or 0x hexadecimal. Exit status: 0 the board's test would pass,\n"
    "1 it would fail (with --strict: 0 the files are byte-identical, 1 they are not),\n"
    "2 trouble (one line on standard error).\n";

const char* const kVersion = "pellrix-diff " PELLRIX_VERSION "\n";

namespace {

// Decimal, or hexadecimal after "0x": nothing else (no octal, no sign,
// no spaces).
bool ParseNumber(const std::string& text, uint64_t most, uint64_t* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  if (first == last || !std::isxdigit(static_cast<unsigned char>(*first))) return false;
  uint64_t parsed = 0;
  const auto [end, error] = std::from_chars(first, last, parsed, hex ? 16 : 10);
  if (error != std::errc() || end != last || parsed == 0 || parsed > most) return false;
  *value = parsed;
  return true;
}

}  // namespace

std::optional<Arguments> ParseArguments(int argc, const char* const* argv, std::string* problem) {
  Arguments arguments;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      arguments.files.push_back(argument);
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
    if (argument == "--html") {
      if (!attached && i + 1 >= argc) {
        *problem = "option --html needs a file name";
        return std::nullopt;
      }
      arguments.htmlPage = attached ? *attached : argv[++i];
      continue;
    }
    const bool takesValue = argument == "--max-ranges" || argument == "--block-size" || argument == "--bios-size" ||
                            argument == "--flash-size" || argument == "--html-bytes";
    if (!takesValue && attached) {
      *problem = "option " + EscapedText(argument) + " takes no value";
      return std::nullopt;
    }
    if (argument == "--json") {
      arguments.json = true;
    } else if (argument == "--strict") {
      arguments.strict = true;
    } else if (argument == "--no-mask") {
      arguments.options.rawMasked = true;
    } else if (argument == "--info") {
      arguments.info = true;
    } else if (argument == "--help" || argument == "-h") {
      arguments.help = true;
    } else if (argument == "--version") {
      arguments.version = true;
    } else if (takesValue) {
      if (!attached && i + 1 >= argc) {
        *problem = "option " + argument + " needs a number";
        return std::nullopt;
      }
      const std::string text = attached ? *attached : argv[++i];
      const uint64_t most = argument == "--max-ranges"   ? UINT64_MAX
                            : argument == "--block-size" ? 0xFFFFFFFFull
                                                         : uint64_t(1) << 32;
      // Only the counts take 0: no range listed, no byte embedded.
      const bool zeroTaken = argument == "--max-ranges" || argument == "--html-bytes";
      uint64_t value = 0;
      if (!ParseNumber(text, most, &value) && !(zeroTaken && text == "0")) {
        *problem = "option " + argument + " needs a number from " + (argument == "--html-bytes" ? "0" : "1") + " to " +
                   std::to_string(most) + ", not " + EscapedText(text);
        return std::nullopt;
      }
      if (argument == "--max-ranges") arguments.maxRanges = value;
      if (argument == "--block-size") arguments.options.blockSize = uint32_t(value);
      if (argument == "--bios-size") arguments.options.biosSize = value;
      if (argument == "--flash-size") arguments.options.flashSize = value;
      if (argument == "--html-bytes") arguments.htmlBytes = value;
    } else {
      *problem = "unknown option " + EscapedText(argument);
      return std::nullopt;
    }
  }
  if (arguments.help || arguments.version) return arguments;
  if (arguments.files.size() != (arguments.info ? 1u : 2u)) {
    *problem = arguments.info ? "--info takes one file" : "two files are needed, Main's and Backup's";
    return std::nullopt;
  }
  return arguments;
}

}  // namespace pdiff
