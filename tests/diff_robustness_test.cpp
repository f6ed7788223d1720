// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff as a workstation tool meets hostile files and pipes: the
// command line's forms, inputs that are not dumps, a closed output pipe,
// texts with escape sequences or bytes that are not UTF-8, dumps whose size
// contradicts their descriptor, damaged real images, and firmware built to
// hide damage, overstate sizes or hold more files than the tree's limits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>

#include "fwtree/guid.h"
#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using namespace support;

std::string OvmfImage(const char* build) {
  return std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+" + build + ".fd";
}

size_t Lines(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

class DiffRobustness : public ::testing::Test {
 protected:
  std::string Save(const std::string& name, const sim::Bytes& bytes) {
    WriteBytes(scratch_.path() / name, bytes);
    return (scratch_.path() / name).string();
  }
  TempDir scratch_;
};

TEST_F(DiffRobustness, CommandLineForms) {
  const ProgramRun help = RunDiff({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--max-ranges N"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const ProgramRun version = RunDiff({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("pellrix-diff ", 0), 0u);

  const ProgramRun unknown = RunDiff({"--frobnicate", OvmfImage("deb12u1"), OvmfImage("deb12u2")});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(Lines(unknown.err), 2u) << unknown.err;
  EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos);
  EXPECT_NE(unknown.err.find("usage: pellrix-diff"), std::string::npos);
  EXPECT_EQ(RunDiff({"--json=yes", OvmfImage("deb12u1"), OvmfImage("deb12u2")}).status, 2);
  EXPECT_EQ(RunDiff({"--max-ranges", "-3", OvmfImage("deb12u1"), OvmfImage("deb12u2")}).status, 2);

  // "--opt=value" is "--opt value"; after "--" a name starting with '-' is a file.
  const ProgramRun attached = RunDiff({"--json", "--block-size=0x4000", OvmfImage("deb12u1"), OvmfImage("deb12u2")});
  const ProgramRun separate = RunDiff({"--json", "--block-size", "16384", OvmfImage("deb12u1"), OvmfImage("deb12u2")});
  EXPECT_EQ(attached.status, 1);
  EXPECT_EQ(attached.out, separate.out);
  EXPECT_EQ(json::parse(attached.out)["geometry"]["block_size"], 0x4000);
  const std::string dashed = Save("-dump.fd", ReadFileBytes(OvmfImage("deb12u1")));
  const ProgramRun ended = RunDiff({"--info", "--", dashed});
  EXPECT_EQ(ended.status, 0) << ended.err;
}

TEST_F(DiffRobustness, AFifoAndAFileOverFourGibAreRefusedAtOnce) {
  const std::string fifo = (scratch_.path() / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const ProgramRun piped = RunProgram("/usr/bin/timeout", {"10", PELLRIX_DIFF_PATH, fifo, OvmfImage("deb12u1")});
  EXPECT_EQ(piped.status, 2);
  EXPECT_NE(piped.err.find("not a regular file"), std::string::npos) << piped.err;

  const std::string huge = (scratch_.path() / "huge.bin").string();
  { std::ofstream(huge).put('\0'); }
  std::filesystem::resize_file(huge, 5ull << 30);  // sparse
  const ProgramRun big = RunProgram("/usr/bin/timeout", {"10", PELLRIX_DIFF_PATH, "--info", huge});
  EXPECT_EQ(big.status, 2);
  EXPECT_NE(big.err.find("larger than 4 GiB"), std::string::npos) << big.err;
  EXPECT_EQ(Lines(big.err), 1u);
}

// Refused before anything is mapped or walked: a part larger than any flash
// chip (unless the command line says the part is that large), and a BIOS
// region larger than its part (offsets would wrap below zero).
TEST_F(DiffRobustness, SizesThatRuleADumpOutAreRefusedFirst) {
  const std::string large = (scratch_.path() / "large.bin").string();
  { std::ofstream(large).put('\0'); }
  std::filesystem::resize_file(large, 1ull << 30);  // sparse
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--info", large}, std::vector<std::string>{large, OvmfImage("deb12u1")}}) {
    const ProgramRun run = RunDiff(arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("give --flash-size"), std::string::npos) << run.err;
  }
  const ProgramRun wrapped =
      RunDiff({"--flash-size=0x100000", "--bios-size=0x200000", OvmfImage("deb12u1"), OvmfImage("deb12u2")});
  EXPECT_EQ(wrapped.status, 2);
  EXPECT_EQ(wrapped.out, "");
  EXPECT_NE(wrapped.err.find("cannot lie in a part of 0x100000"), std::string::npos) << wrapped.err;
  // Catches a refusal that does not say which option made the part too small
  // ("010" is ten bytes, not octal).
  const ProgramRun tiny = RunDiff({"--flash-size", "010", OvmfImage("deb12u1"), OvmfImage("deb12u2")});
  EXPECT_EQ(tiny.status, 2);
  EXPECT_NE(tiny.err.find("--flash-size 0xa: a BIOS region of"), std::string::npos) << tiny.err;
}

// A file name reaches standard error escaped like every other text.
TEST_F(DiffRobustness, FileNamesOnStandardErrorAreEscaped) {
  const std::string name = (scratch_.path() / "A\nB\x1b[2J\r\t\xff").string();
  const ProgramRun run = RunDiff({"--info", name});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(Lines(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("A\\x0AB\\x1B[2J\\x0D\\x09\\xFF"), std::string::npos) << run.err;
}

// Catches "standard output: write error" on every `| head` (the reader has
// gone: nothing to say) and a closed pipe taken for a pass; a full disk is
// still said.
TEST_F(DiffRobustness, AClosedOutputPipeEndsSilentlyWithStatusTwo) {
  // Two dumps differing every few bytes: far more report than a pipe holds.
  sim::Bytes a = sim::PseudoRandomBytes(1 << 20, 1);
  sim::Bytes b = a;
  for (size_t i = 0; i < b.size(); i += 40) b[i] ^= 1;
  const std::string main = Save("A.BIN", a);
  const std::string backup = Save("B.BIN", b);
  for (const char* mode : {"--json", "--max-ranges=1000000"}) {
    const std::string command = std::string("'") + PELLRIX_DIFF_PATH + "' " + mode + " '" + main + "' '" + backup +
                                "' 2>'" + scratch_.str() + "/err' | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}";
    const ProgramRun run = RunProgram("/bin/bash", {"-c", command});
    EXPECT_EQ(run.status, 2) << mode;
    const std::vector<uint8_t> err = ReadFileBytes(scratch_.path() / "err");
    const std::string text(err.begin(), err.end());
    EXPECT_EQ(text, "") << mode;
  }
  const ProgramRun full = RunProgram(
      "/bin/bash", {"-c", std::string("'") + PELLRIX_DIFF_PATH + "' '" + main + "' '" + backup + "' >/dev/full"});
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.err, "pellrix-diff: standard output: write error\n");
  // A reader gone before anything was written (the read end closed first),
  // and identical dumps: no message, and still not the status of a pass.
  const ProgramRun gone =
      RunProgram("/usr/bin/python3", {"-c",
                                      "import os, subprocess, sys\n"
                                      "r, w = os.pipe()\n"
                                      "os.close(r)\n"
                                      "run = subprocess.run(sys.argv[1:], stdout=w, stderr=subprocess.PIPE)\n"
                                      "sys.stderr.write(run.stderr.decode())\n"
                                      "sys.exit(run.returncode)",
                                      PELLRIX_DIFF_PATH, main, main});
  EXPECT_EQ(gone.err, "");
  EXPECT_EQ(gone.status, 2);
}

TEST_F(DiffRobustness, EscapeSequencesAndBytesThatAreNotUtf8AreEscaped) {
  sim::DescriptorSpec descriptor = ProbeDescriptor();
  descriptor.model_name = "\x1b[2J\x1b]0;owned\x07 BOARD";
  descriptor.part_number = "PX\xff\xfe\xc3(";
  const ProbePart part = BuildProbePart(descriptor);
  const std::string main = Save("MAIN.BIN", part.bytes);
  const std::string backup = Save("BACK\x1b[1m.BIN", part.bytes);
  const ProgramRun text = RunDiff({main, backup});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.out.find('\x07'), std::string::npos);
  EXPECT_NE(text.out.find("\\x1B[2J\\x1B]0;owned\\x07 BOARD"), std::string::npos) << text.out;

  const ProgramRun report = RunDiff({"--json", main, backup});
  ASSERT_EQ(report.status, 0) << report.err;
  const json parsed = json::parse(report.out);  // throws, failing the test, when not valid
  EXPECT_EQ(parsed["dumps"][0]["identity"]["part_number"], "PX\\xFF\\xFE\\xC3(");
  EXPECT_EQ(parsed["dumps"][1]["file"], (scratch_.path() / "BACK\\x1B[1m.BIN").string());
}

TEST_F(DiffRobustness, DumpsThatContradictTheirGeometryAreTroubleUnlessItIsGiven) {
  const ProbePart part = BuildProbePart();
  const std::string whole = Save("MAIN.BIN", part.bytes);
  const std::string cut = Save("CUT.BIN", sim::Bytes(part.bytes.begin() + 0x1000, part.bytes.end()));
  const std::string tiny = Save("TINY.BIN", sim::Bytes(100, 0xFF));
  for (const std::string& odd : {cut, tiny}) {
    const ProgramRun run = RunDiff({whole, odd});
    EXPECT_EQ(run.status, 2) << odd;
    EXPECT_EQ(Lines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find(odd), std::string::npos) << run.err;
  }
  // Both placed at the top of the part: the BIOS regions agree.
  const ProgramRun given = RunDiff({"--json", "--flash-size", "0x20000", "--bios-size", "0x10000", whole, cut});
  EXPECT_EQ(given.status, 0) << given.err;
  const json report = json::parse(given.out);
  EXPECT_NE(report["summary"]["warnings"].dump().find("differ in size"), std::string::npos);
}

TEST_F(DiffRobustness, DumpsWithoutIdentityAreWarnedAbout) {
  const json report = DiffJson(OvmfImage("deb12u1"), OvmfImage("deb12u2"));
  const std::string warnings = report["summary"]["warnings"].dump();
  // Catches one warning per dump and checks shown "OK" for texts neither
  // dump holds: said once, the checks not applicable.
  EXPECT_NE(warnings.find("neither dump holds the identity descriptor"), std::string::npos) << warnings;
  EXPECT_EQ(warnings.find("has no identity descriptor"), std::string::npos) << warnings;
  for (const json& check : report["checks"])
    EXPECT_TRUE(check["result"] == "not applicable" || check["result"] == "not in a dump") << check;
  EXPECT_NE(warnings.find("BIOS size is guessed"), std::string::npos) << warnings;
  const json given = DiffJson(OvmfImage("deb12u1"), OvmfImage("deb12u2"), {"--bios-size=0x200000"});
  EXPECT_EQ(given["summary"]["warnings"].dump().find("guessed"), std::string::npos);
}

// Truncations, bit flips and damaged headers of a real image, compared with
// the intact one and described alone: an exit status of 0, 1 or 2, valid
// JSON whenever the status is 0 or 1, and no hang.
TEST_F(DiffRobustness, DamagedRealImagesNeverCrashHangOrBreakTheJson) {
  const sim::Bytes intact = ReadFileBytes(OvmfImage("deb12u1"));
  ASSERT_EQ(intact.size(), 0x200000u);
  const std::string original = Save("INTACT.BIN", intact);
  std::mt19937 random(17);
  std::vector<sim::Bytes> damaged;
  for (size_t cut : {0x30u, 0x20078u, 0x20090u, 0x20100u, 0x50000u, 0x1CC000u, 0x1FFFFFu})
    damaged.emplace_back(intact.begin(), intact.begin() + long(cut));
  // Headers: the code volume, the compressed file and its LZMA section; the
  // compressed stream itself; the SEC volume.
  for (size_t at : {0x20020u, 0x20030u, 0x2008Cu, 0x20090u, 0x200A4u, 0x200B8u, 0x20200u, 0x90000u, 0x1CC020u})
    for (int bit : {0, 5}) {
      sim::Bytes copy = intact;
      copy[at] ^= uint8_t(1 << bit);
      damaged.push_back(copy);
    }
  for (int i = 0; i < 12; ++i) {
    sim::Bytes copy = intact;
    for (int flip = 0; flip < 8; ++flip) copy[0x20000 + random() % 0x172000] ^= uint8_t(1 << (random() % 8));
    damaged.push_back(copy);
  }
  for (size_t i = 0; i < damaged.size(); ++i) {
    const std::string path = Save("DAMAGED.BIN", damaged[i]);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--json", original, path}, std::vector<std::string>{"--info", "--json", path},
          std::vector<std::string>{path, original}}) {
      std::vector<std::string> timed = {"20", PELLRIX_DIFF_PATH};
      timed.insert(timed.end(), arguments.begin(), arguments.end());
      const ProgramRun run = RunProgram("/usr/bin/timeout", timed);
      ASSERT_TRUE(run.status == 0 || run.status == 1 || run.status == 2)
          << "case " << i << " " << arguments[0] << ": status " << run.status << "\n"
          << run.err;
      const bool json = arguments[0] == "--json" || arguments[0] == "--info";
      if (run.status == 2) {
        EXPECT_EQ(Lines(run.err), 1u) << "case " << i << ": " << run.err;
      } else if (json) {
        EXPECT_TRUE(json::accept(run.out)) << "case " << i;
      }
    }
  }
}

// Hostile firmware: a 64 KiB dump holding one volume.
sim::Guid HostileName(uint32_t n) { return sim::MakeGuid(0xBAD00000 + n, 1, 2, {3, 4, 5, 6, 7, 8, 9, uint8_t(n)}); }

sim::Bytes HostileFile(uint32_t n, const sim::Bytes& body) {
  sim::FileSpec spec;
  spec.name = HostileName(n);
  spec.body = body;
  return sim::BuildFile(spec);
}

sim::Bytes Named(const std::u16string& name, const sim::Bytes& content) {
  return Sections({sim::Section(sim::kSectionRaw, content), UiSection(name)});
}

sim::VolumeSpec HostileVolume(std::vector<sim::Bytes> files, bool lastAtTop = false, uint64_t length = 0x10000,
                              const sim::Guid& fileSystem = sim::FileSystem2Guid()) {
  sim::VolumeSpec volume;
  volume.files = std::move(files);
  volume.last_file_at_top = lastAtTop;
  volume.length = length;
  volume.file_system = fileSystem;
  return volume;
}

sim::Bytes HostileDump(const sim::VolumeSpec& volume) {
  sim::Bytes dump = sim::BuildVolume(volume);
  dump.resize(0x10000, 0xFF);
  return dump;
}

void PutLe(sim::Bytes& bytes, size_t at, uint64_t value, int count) {
  for (int i = 0; i < count; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// The file's problems and the tree's, from --info --json, on one line each.
std::string Problems(const json& info) {
  std::string all;
  for (const json& problem : info["problems"]) all += problem.get<std::string>() + "\n";
  for (const json& file : info["files"])
    if (file.contains("problems"))
      for (const json& problem : file["problems"]) all += problem.get<std::string>() + "\n";
  return all;
}

// Structures cut short, or holding what their header denies, are each a
// problem of the report, in its text and in its JSON; before, each was
// skipped without a word (the tree below them silently missing).
TEST_F(DiffRobustness, CutOrSkippedStructuresAreProblemsOfTheReport) {
  const sim::Bytes data = sim::PseudoRandomBytes(30000, 3);
  sim::Bytes zeroStandard = StandardCompressionSection(Named(u"Hidden", data), fwtree::StandardVariant::Efi11);
  PutLe(zeroStandard, 4, 0, 3);   // the section's own original size
  PutLe(zeroStandard, 13, 0, 4);  // the stream's
  sim::Bytes zeroLzma = LzmaSection(Named(u"Hidden", data));
  PutLe(zeroLzma, 24 + 5, 0, 8);
  sim::Bytes cutSections = Named(u"Cut", data);
  cutSections.insert(cutSections.end(), {0x12, 0x34});
  sim::FileSpec large;
  large.name = HostileName(9);
  large.body = Named(u"Large", data);
  const sim::Bytes largeHeader = BuildLargeFile(large);

  const struct {
    const char* structure;
    sim::VolumeSpec volume;
    uint64_t cutTo;  // the dump's length when the volume is cut by it, else 0
    const char* problem;
  } cases[] = {
      {"a stream stating 0 original bytes holding 30 KB", HostileVolume({HostileFile(1, zeroStandard)}), 0,
       "states 0 original bytes"},
      {"an LZMA stream stating 0 bytes holding 30 KB", HostileVolume({HostileFile(2, zeroLzma)}), 0, "states 0 bytes"},
      {"2 bytes after a file's last section", HostileVolume({HostileFile(3, cutSections)}), 0,
       "section header cut short"},
      {"an FFSv3 large-file header cut by its volume's end",
       HostileVolume({sim::Bytes(largeHeader.begin(), largeHeader.begin() + 24)}, true, 0x10000,
                     ToSimGuid(fwtree::kFileSystem3)),
       0, "large-file header cut"},
      {"16 bytes of a file header at the volume's end",
       HostileVolume({HostileFile(4, Named(u"Kept", data)), sim::Bytes(16, 0xAB)}, true), 0, "file header cut"},
      {"a volume longer than the dump", HostileVolume({HostileFile(5, Named(u"Kept", data))}, false, 0x20000), 0x10000,
       "cut to 65536"},
  };
  for (const auto& test : cases) {
    sim::Bytes dump = HostileDump(test.volume);
    if (test.cutTo != 0) dump.resize(test.cutTo);
    const std::string path = Save("HOSTILE.BIN", dump);
    const ProgramRun info = RunDiff({"--info", "--json", path});
    ASSERT_EQ(info.status, 0) << test.structure << ": " << info.err;
    EXPECT_NE(Problems(json::parse(info.out)).find(test.problem), std::string::npos)
        << test.structure << ": " << Problems(json::parse(info.out));
    EXPECT_NE(RunDiff({"--info", path}).out.find(test.problem), std::string::npos) << test.structure;
  }
}

// Garbage Brotli sections stating 150 MiB and 256 MiB, beside 24 LZMA
// files: a decode is charged what it produced, so every other file is still
// opened and named, and the bytes said decompressed are the ones the tree
// holds (before, the stated size was counted and hid the files after it).
TEST_F(DiffRobustness, AnOverstatedSectionCostsWhatItProducedNotWhatItStates) {
  sim::VolumeSpec volume;
  for (uint64_t stated : {150ull << 20, 256ull << 20}) {
    sim::Bytes garbage(64, 0x5A);
    PutLe(garbage, 0, stated, 8);
    volume.files.push_back(
        HostileFile(uint32_t(stated >> 20), GuidedSection(fwtree::kBrotliSection, kProcessingRequired, garbage)));
  }
  uint64_t held = 0;
  for (uint32_t n = 1; n <= 24; ++n) {
    const sim::Bytes named = Named(u"Lzma" + std::u16string(1, char16_t(u'A' + n)), sim::Bytes(1000, uint8_t(n)));
    volume.files.push_back(HostileFile(n, LzmaSection(named)));
    held += named.size();
  }
  const ProgramRun info = RunDiff({"--info", "--json", Save("OVERSTATED.BIN", HostileDump(volume))});
  ASSERT_EQ(info.status, 0) << info.err;
  const json report = json::parse(info.out);
  size_t named = 0;
  for (const json& file : report["files"]) named += file["name"].is_string() ? 1 : 0;
  EXPECT_EQ(named, 24u) << Problems(report);
  EXPECT_EQ(report["decompressed_bytes"], held);
  EXPECT_NE(Problems(report).find("Brotli: stream damaged"), std::string::npos) << Problems(report);
  EXPECT_NE(Problems(report).find("limit of the dump reached"), std::string::npos) << Problems(report);
}

// An LZMA section inflating to 700,000 files of 24 bytes (16 MiB from a
// few KiB): the tree's records draw on the dump's budget, so the walk stops
// with a problem instead of listing them all.
TEST_F(DiffRobustness, TinyFilesBeyondTheTreeBudgetEndTheWalkWithAProblem) {
  constexpr size_t kFiles = 700000;
  sim::FileSpec tiny;
  tiny.name = HostileName(7);
  tiny.type = 0x02;  // freeform, no sections
  const sim::Bytes file = sim::BuildFile(tiny);
  sim::VolumeSpec inner;
  inner.length = (sim::kVolumeHeaderLength + kFiles * file.size() + 0xFFF) & ~size_t(0xFFF);
  sim::Bytes volume = sim::BuildVolume(inner);
  for (size_t i = 0; i < kFiles; ++i)
    std::copy(file.begin(), file.end(), volume.begin() + long(sim::kVolumeHeaderLength + i * file.size()));
  sim::VolumeSpec outer;
  outer.files = {HostileFile(1, LzmaSection(LargeSection(kSectionVolumeImage, volume)))};
  const std::string path = Save("TINY_FILES.BIN", HostileDump(outer));
  const ProgramRun tail = RunProgram("/bin/bash", {"-c", "'" + std::string(PELLRIX_DIFF_PATH) + "' --info '" + path +
                                                             "' | sed -n 's/^Firmware tree (//p; /not walked/p'"});
  ASSERT_EQ(tail.status, 0) << tail.err;
  EXPECT_NE(tail.out.find("not walked"), std::string::npos) << tail.out;
  const size_t listed = std::stoul(tail.out);
  EXPECT_GT(listed, 100000u);
  EXPECT_LT(listed, kFiles);
}

}  // namespace
