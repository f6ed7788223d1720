// pellrix-diff as a workstation tool meets hostile files and pipes: the
// command line's forms, inputs that are not dumps, a closed output pipe,
// texts with escape sequences or bytes that are not UTF-8, dumps whose size
// contradicts their descriptor, and damaged real images.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>

#include "tests/support/diff_support.h"
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
}

// A file name reaches standard error escaped like every other text.
TEST_F(DiffRobustness, FileNamesOnStandardErrorAreEscaped) {
  const std::string name = (scratch_.path() / "A\nB\x1b[2J\r\t\xff").string();
  const ProgramRun run = RunDiff({"--info", name});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(Lines(run.err), 1u) << run.err;
  EXPECT_NE(run.err.find("A\\x0AB\\x1B[2J\\x0D\\x09\\xFF"), std::string::npos) << run.err;
}

TEST_F(DiffRobustness, AClosedOutputPipeEndsWithOneLineAndStatusTwo) {
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
    EXPECT_EQ(text, "pellrix-diff: standard output: write error\n") << mode;
  }
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
  EXPECT_NE(warnings.find("Main has no identity descriptor"), std::string::npos) << warnings;
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

}  // namespace
