// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff on every shape a dump comes in, made from one known chip (an
// Intel flash descriptor, an ME region and real OVMF at the top of an 8 MiB
// part): cut short at any point, the BIOS region alone, read twice, shifted,
// not firmware at all, with bytes changed at chosen places. The generator
// knows where each dump's bytes lie in the part, so it knows what must be
// counted; the properties hold on every shape in both argument orders.
//
// PELLRIX_SHAPE_ROUNDS (default 1) sets how many seeds are run: each seed
// draws new cut points, lengths and changed places.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>

#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using sim::Bytes;
using namespace support;

constexpr int64_t kPart = 0x800000;
constexpr int64_t kBiosBase = 0x200000;
constexpr uint64_t kWindowBase = 0xFFA00000;  // 4 GiB less the 6 MiB BIOS region
constexpr uint32_t kBlock = 0x1000;

Bytes KnownChip() {
  Bytes chip =
      BuildFlashDescriptor({{0, 0, 0xFFF}, {1, uint32_t(kBiosBase), uint32_t(kPart - 1)}, {2, 0x1000, 0x1FFFFF}});
  chip.resize(size_t(kPart), 0xFF);
  const Bytes me = sim::PseudoRandomBytes(0x40000, 77);
  std::copy(me.begin(), me.end(), chip.begin() + 0x1000);
  const Bytes ovmf = ReadFileBytes(std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+deb12u2.fd");
  std::copy(ovmf.begin(), ovmf.end(), chip.end() - long(ovmf.size()));
  return chip;
}

// One dump as the generator made it: its bytes and the flash offset of its
// first byte, which the dump's own descriptor or (without one) the known
// chip's says.
struct Dump {
  Bytes bytes;
  int64_t start;
};

struct Shape {
  std::string name;
  Dump main;
  Dump backup;
  const char* said;   // words the first three lines must hold, or null
  bool sameFirmware;  // built from one chip with no byte changed
};

// What the generator knows of a pair, counted over flash offsets.
struct Truth {
  uint64_t sharedDiffering = 0;  // bytes both hold that differ
  uint64_t windowDiffering = 0;  // of those, inside the BIOS window
  uint64_t extra = 0;            // bytes the longer holds where the other holds none
  uint64_t extraNotErased = 0;
  bool missing = false;                      // a window byte one dump lacks
  std::optional<uint64_t> firstWindowFault;  // region offset of the first byte that differs or is missing
};

Truth Know(const Dump& a, const Dump& b) {
  Truth truth;
  const int64_t begin = std::max(a.start, b.start);
  const int64_t end = std::min(a.start + int64_t(a.bytes.size()), b.start + int64_t(b.bytes.size()));
  for (int64_t flash = begin; flash < end; ++flash)
    truth.sharedDiffering += a.bytes[size_t(flash - a.start)] != b.bytes[size_t(flash - b.start)];
  const Dump& longer = a.bytes.size() >= b.bytes.size() ? a : b;
  for (size_t i = 0; i < longer.bytes.size(); ++i) {
    const int64_t flash = longer.start + int64_t(i);
    if (flash >= begin && flash < end) continue;
    ++truth.extra;
    truth.extraNotErased += longer.bytes[i] != 0xFF;
  }
  // The board's window, as the board would read it: below a dump's first
  // byte reads as erased flash (a BIOS region shorter than the part's),
  // past its last byte nothing is known (a read cut short).
  auto at = [](const Dump& dump, int64_t flash) {
    if (flash < dump.start) return 0xFF;
    if (flash >= dump.start + int64_t(dump.bytes.size())) return -1;
    return int(dump.bytes[size_t(flash - dump.start)]);
  };
  for (int64_t flash = kBiosBase; flash < kPart; ++flash) {
    const int x = at(a, flash);
    const int y = at(b, flash);
    if (x < 0 || y < 0) {
      truth.missing = true;
      if (!truth.firstWindowFault) truth.firstWindowFault = uint64_t(flash - kBiosBase);
      break;
    }
    if (x == y) continue;
    if (!truth.firstWindowFault) truth.firstWindowFault = uint64_t(flash - kBiosBase);
    ++truth.windowDiffering;
  }
  return truth;
}

Bytes Slice(const Bytes& bytes, size_t begin, size_t end) {
  return Bytes(bytes.begin() + long(begin), bytes.begin() + long(end));
}

// Bytes changed at places drawn in each area of the part: the descriptor's
// free space, the ME region, the erased bottom of the BIOS region, OVMF.
Bytes Changed(const Bytes& chip, std::mt19937& random, int count) {
  Bytes changed = chip;
  const std::pair<size_t, size_t> areas[] = {
      {0x100, 0x1000}, {0x1000, 0x200000}, {0x200000, 0x600000}, {0x600000, 0x800000}};
  for (int i = 0; i < count; ++i) {
    const auto& [begin, end] = areas[size_t(i) % std::size(areas)];
    changed[begin + random() % (end - begin)] ^= uint8_t(1 + random() % 255);
  }
  return changed;
}

// GCC 12 at -O3 takes the vectors of this list's temporaries for
// uninitialized (a false -Wmaybe-uninitialized); the list is plain.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
std::vector<Shape> MakeShapes(const Bytes& chip, uint32_t seed) {
  std::mt19937 random(seed);
  auto draw = [&](size_t low, size_t high) { return low + random() % (high - low); };
  const Bytes changed = Changed(chip, random, 8);
  const Bytes region = Slice(chip, size_t(kBiosBase), size_t(kPart));
  Bytes twice = chip;
  twice.insert(twice.end(), chip.begin(), chip.end());
  Bytes changedTwice = changed;
  changedTwice.insert(changedTwice.end(), changed.begin(), changed.end());
  // Cut anywhere: in the ME region, at the BIOS region's base, inside it.
  const size_t cutLow = draw(0x1000, size_t(kBiosBase));
  const size_t cutHigh = draw(size_t(kBiosBase) + 1, size_t(kPart));
  // A BIOS region with bytes in front of it (a programmer's header).
  const size_t front = draw(1, 0x100) * 0x1000;
  Bytes shifted = sim::PseudoRandomBytes(front, seed);
  shifted.insert(shifted.end(), region.begin(), region.end());
  // A whole part with bytes after it that are not a second copy.
  Bytes trailing = chip;
  const Bytes tail = sim::PseudoRandomBytes(draw(1, 0x10000), seed + 1);
  trailing.insert(trailing.end(), tail.begin(), tail.end());
  const Bytes noise = sim::PseudoRandomBytes(draw(0x10000, 0x100000), seed + 2);
  const Dump whole{chip, 0};
  return {
      {"identical", whole, whole, nullptr, true},
      {"bytes changed", {changed, 0}, whole, nullptr, false},
      {"cut in the ME region", {Slice(chip, 0, cutLow), 0}, whole, "is cut short", true},
      {"cut at the BIOS region", {Slice(chip, 0, size_t(kBiosBase)), 0}, whole, "is cut short", true},
      {"cut inside the BIOS region", {Slice(chip, 0, cutHigh), 0}, whole, "is cut short", true},
      {"cut and changed", {Slice(changed, 0, cutHigh), 0}, whole, "is cut short", false},
      {"BIOS region only", {region, kBiosBase}, whole, "is a BIOS region", true},
      {"BIOS region, changed",
       {Slice(changed, size_t(kBiosBase), size_t(kPart)), kBiosBase},
       whole,
       "is a BIOS region",
       false},
      {"read twice", whole, {twice, 0}, "holds the part twice", true},
      {"read twice, changed", {changedTwice, 0}, whole, "holds the part twice", false},
      {"shifted region", {shifted, kPart - int64_t(shifted.size())}, whole, nullptr, true},
      {"bytes after the part", {trailing, 0}, whole, nullptr, true},
      {"no firmware", {noise, kPart - int64_t(noise.size())}, whole, "holds no firmware", false},
  };
}
#pragma GCC diagnostic pop

std::string Swapped(std::string text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, 4, "Main") == 0) {
      out += "Backup";
      at += 4;
    } else if (text.compare(at, 6, "Backup") == 0) {
      out += "Main";
      at += 6;
    } else {
      out += text[at++];
    }
  }
  return out;
}

std::set<std::string> FileChanges(const json& report, bool swap) {
  std::set<std::string> found;
  for (const json& file : report["files"]) {
    const std::string change = file["change"];
    found.insert((swap ? Swapped(change) : change) + " " + file["guid"].get<std::string>() + " #" +
                 std::to_string(file.value("index", 0)));
  }
  return found;
}

class DiffShapes : public ::testing::Test {
 protected:
  std::string Path(const std::string& name, const Bytes& bytes) {
    WriteBytes(scratch_.path() / name, bytes);
    return (scratch_.path() / name).string();
  }
  TempDir scratch_;
};

// The properties, on every shape and both orders:
// - a byte of the BIOS window that differs or that one dump lacks is never a
//   PASS nor exit 0, in --strict neither (catches the cut dump that passed,
//   and a region dump compared against the descriptor and ME);
// - the counts are the generator's: differing bytes both hold, the window's
//   differing bytes, the bytes only the longer holds and how many of them
//   are not erased, the FAIL address (catches a dump placed by the other's
//   size instead of its own descriptor, and a second copy parsed as more
//   firmware);
// - swapping the arguments changes only which side is named (catches
//   geometry, placement and file lists that follow the order);
// - the shape is said in the first three lines.
TEST_F(DiffShapes, EveryShapeIsCountedAsTheGeneratorKnowsItInBothOrders) {
  const char* rounds = std::getenv("PELLRIX_SHAPE_ROUNDS");
  const int count = rounds != nullptr ? std::max(1, std::atoi(rounds)) : 1;
  const Bytes chip = KnownChip();
  for (int round = 0; round < count; ++round) {
    const uint32_t seed = 0x5EED0000u + uint32_t(round);
    for (const Shape& shape : MakeShapes(chip, seed)) {
      SCOPED_TRACE(shape.name + ", seed " + std::to_string(seed));
      const Truth truth = Know(shape.main, shape.backup);
      const std::string a = Path("A.BIN", shape.main.bytes);
      const std::string b = Path("B.BIN", shape.backup.bytes);
      json reports[2];
      for (int order = 0; order < 2; ++order) {
        const std::string& first = order == 0 ? a : b;
        const std::string& second = order == 0 ? b : a;
        const ProgramRun run = RunDiff({"--json", first, second});
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.err;
        reports[order] = json::parse(run.out);
        const json& report = reports[order];
        const json& summary = report["summary"];
        const bool fault = truth.windowDiffering > 0 || truth.missing;
        EXPECT_EQ(run.status, report["verdict"]["result"] == "PASS" ? 0 : 1);
        EXPECT_EQ(report["verdict"]["result"], fault ? "FAIL" : "PASS") << summary["warnings"];
        if (truth.firstWindowFault && *truth.firstWindowFault < uint64_t(kPart - kBiosBase)) {
          EXPECT_EQ(report["verdict"]["address"], kWindowBase + *truth.firstWindowFault / kBlock * kBlock);
        }
        EXPECT_EQ(summary["differing_bytes"], truth.windowDiffering);
        const json& whole = summary["whole_files"];
        EXPECT_EQ(whole["differing_bytes"], truth.sharedDiffering);
        if (truth.extra == 0) {
          EXPECT_TRUE(whole["length_difference"].is_null()) << whole;
        } else {
          EXPECT_EQ(whole["length_difference"]["bytes"], truth.extra);
          EXPECT_EQ(whole["length_difference"]["not_erased"], truth.extraNotErased);
        }
        // A dump that starts with the descriptor and ends before the part
        // does is cut short, and says what it lacks.
        const json& cut = summary["cut_short"];
        if (shape.main.start == 0 && int64_t(shape.main.bytes.size()) < kPart) {
          ASSERT_EQ(cut.size(), 1u) << summary["shape"];
          EXPECT_EQ(cut[0]["dump"], order == 0 ? "Main" : "Backup");
          EXPECT_EQ(cut[0]["missing_flash_offset"], shape.main.bytes.size());
          EXPECT_EQ(cut[0]["missing_length"], uint64_t(kPart) - shape.main.bytes.size());
          // The cut is the layout cause of the cut chip; the bytes it lacks
          // are never an erase.
          bool layout = false;
          for (const json& cause : report["causes"]) {
            if (cause["kind"] == "erased") {
              for (const json& offset : cause["offsets"]) EXPECT_LT(offset, shape.main.bytes.size()) << cause;
            }
            layout = layout || (cause["kind"] == "layout" && cause["chip"] == (order == 0 ? "main" : "backup"));
          }
          EXPECT_TRUE(layout) << report["causes"];
        } else {
          EXPECT_TRUE(cut.empty()) << cut;
        }
        const bool identical = truth.sharedDiffering == 0 && truth.extra == 0;
        EXPECT_EQ(whole["identical"], identical);
        // --strict in one order (the other's identity is above).
        if (order == 0) {
          EXPECT_EQ(RunDiff({"--strict", first, second}).status, identical && !truth.missing ? 0 : 1);
        }
        if (shape.said != nullptr) {
          const ProgramRun text = RunDiff({first, second});
          std::istringstream lines(text.out);
          std::string three;
          std::string line;
          for (int i = 0; i < 3 && std::getline(lines, line); ++i) three += line + "\n";
          EXPECT_NE(three.find(shape.said), std::string::npos) << text.out.substr(0, 1200);
        }
      }
      // Either order: the same counts, the sides' names swapped.
      const json& forward = reports[0]["summary"];
      const json& backward = reports[1]["summary"];
      EXPECT_EQ(reports[0]["verdict"], reports[1]["verdict"]);
      EXPECT_EQ(forward["differing_ranges"], backward["differing_ranges"]);
      EXPECT_EQ(forward["whole_files"]["areas"], backward["whole_files"]["areas"]);
      EXPECT_EQ(Swapped(forward["shape"].dump()), backward["shape"].dump());
      EXPECT_EQ(Swapped(forward["cut_short"].dump()), backward["cut_short"].dump());
      EXPECT_EQ(FileChanges(reports[0], false), FileChanges(reports[1], true));
      // One chip's firmware in any shape has no file only on one side: a
      // missing part, a second copy or a region's absent descriptor is no
      // file (catches the doubled read's 131 "only in").
      if (shape.sameFirmware) {
        EXPECT_EQ(forward["files_only_in_main"], 0u) << forward["warnings"];
        EXPECT_EQ(forward["files_only_in_backup"], 0u) << forward["warnings"];
      }
    }
  }
}

}  // namespace
