// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff on firmware-sized inputs beside the plain tools over the same
// files: two identical 64 MiB dumps of real layout (compressed volumes)
// against `cmp`; the OVMF and FSP pairs against UEFIExtract's `report` of
// Main alone; dumps with 50,000 to 500,000 differing ranges in --json against
// `cmp -l`, and 64 MiB dumps changed every 132 bytes (random and
// firmware-like); dumps of 50,000 and 500,000 tiny files, half of them differing;
// the report page (--html) beside --json for the OVMF pair and 64 MiB dumps
// with 200,000 differing ranges.
// Counters: "ratio" ours / reference in wall time, "cpu_ratio" the median
// of paired runs' CPU time ratios (lower is better; goals: identical
// <= 0.5x cmp, their --json <= 1x, the real pairs <= 0.5x UEFIExtract,
// 500,000 ranges <= 3x cmp -l, page <= 1.2x --json), "json_mb" beside
// "cmp_mb" (the outputs' sizes), "max_rss_mib" (at most 1.5x both files,
// flat in the number of ranges), "page_bytes" (at most 2 MB), and for the
// files "seconds" (500,000 in at most 5 s) and "ratio_to_50k" (at most 15x:
// n log n passes, n squared does not).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/diff_runner.h"
#include "sim/image_builder.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir = bench::ScratchDir("pellrix-bench-firmware");
  return dir;
}

std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
  return bench::WriteInput(Dir(), name, bytes);
}

using bench::DiffPath;
using bench::Run;
using bench::RunCommand;

std::string OvmfPath(const char* build) {
  return std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+" + build + ".fd";
}

// "ratio" in wall time over all runs; "cpu_ratio" the median of the runs'
// CPU time ratios, each run paired with the plain tool's next to it (on a
// shared machine the pairs see the same load).
void SideBySide(benchmark::State& state, const std::string& tool, const std::string& plain) {
  double toolSeconds = 0, plainSeconds = 0, rss = 0;
  std::vector<double> cpuRatios;
  for (auto _ : state) {
    const Run run = RunCommand(tool);
    state.SetIterationTime(run.seconds);
    toolSeconds += run.seconds;
    rss = std::max(rss, run.maxRssMib);
    const Run reference = RunCommand(plain);
    plainSeconds += reference.seconds;
    cpuRatios.push_back(run.cpuSeconds / std::max(reference.cpuSeconds, 1e-3));
  }
  std::sort(cpuRatios.begin(), cpuRatios.end());
  state.counters["plain_s"] = plainSeconds / double(state.iterations());
  state.counters["ratio"] = plainSeconds > 0 ? toolSeconds / plainSeconds : 0;
  state.counters["cpu_ratio"] = cpuRatios.empty() ? 0 : cpuRatios[cpuRatios.size() / 2];
  state.counters["max_rss_mib"] = rss;
}

double FileMb(const std::string& path) { return double(fs::file_size(path)) / 1e6; }

// Real layouts: 32 copies of the OVMF image (a variable store, a volume
// holding an LZMA section with two nested volumes, the SEC volume).
std::vector<uint8_t> OvmfCopies() {
  std::ifstream in(OvmfPath("deb12u1"), std::ios::binary);
  const std::vector<uint8_t> one((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 32; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
  return bytes;
}

// The text report (0) and --json (1, goal <= 1x cmp).
void IdenticalDumps(benchmark::State& state) {
  static const std::string a = Write("same_a.bin", OvmfCopies());
  static const std::string b = Write("same_b.bin", OvmfCopies());
  const std::string out = (Dir() / "same.out").string();
  SideBySide(state,
             DiffPath() + (state.range(0) == 1 ? " --json" : "") + " --bios-size=0x4000000 " + a + " " + b + " >" + out,
             "cmp " + a + " " + b + " >/dev/null");
  state.counters["out_mb"] = FileMb(out);
}
BENCHMARK(IdenticalDumps)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void OvmfPairAgainstUefiExtract(benchmark::State& state) {
  const std::string copy = (Dir() / "ovmf.fd").string();
  fs::copy_file(OvmfPath("deb12u1"), copy, fs::copy_options::overwrite_existing);
  SideBySide(state, DiffPath() + " --json " + OvmfPath("deb12u1") + " " + OvmfPath("deb12u2") + " >/dev/null",
             "rm -f " + copy + ".report.txt; UEFIExtract " + copy + " report >/dev/null 2>&1");
}
// The real firmware corpus beside the project, when it is there.
void FspPairAgainstUefiExtract(benchmark::State& state) {
  const char* corpus = std::getenv("PELLRIX_CORPUS");
  const fs::path dir = corpus != nullptr ? fs::path(corpus) : fs::path(PELLRIX_SOURCE_DIR) / ".." / "shared" / "corpus";
  const fs::path main = dir / "fsp-kbl-3.7.1.fd";
  const fs::path backup = dir / "fsp-kbl-3.7.6.fd";
  if (!fs::exists(main) || !fs::exists(backup)) return state.SkipWithError("no FSP pair in the corpus");
  const std::string copy = (Dir() / "fsp.fd").string();
  fs::copy_file(main, copy, fs::copy_options::overwrite_existing);
  SideBySide(state, DiffPath() + " --json " + main.string() + " " + backup.string() + " >/dev/null",
             "rm -rf " + copy + ".report.txt; UEFIExtract " + copy + " report >/dev/null 2>&1");
}
BENCHMARK(FspPairAgainstUefiExtract)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

BENCHMARK(OvmfPairAgainstUefiExtract)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// 32 MiB dumps differing in one byte every `32 MiB / ranges` bytes.
void ManyRanges(benchmark::State& state) {
  const uint64_t ranges = uint64_t(state.range(0));
  std::vector<uint8_t> bytes = sim::PseudoRandomBytes(32u << 20, 6);
  const std::string a = Write("ranges_a.bin", bytes);
  for (uint64_t at = 0; at < bytes.size(); at += bytes.size() / ranges) bytes[at] ^= 0x5A;
  const std::string b = Write("ranges_b.bin", bytes);
  // Into files: GNU cmp stops at the first difference when it writes to /dev/null.
  const std::string out = (Dir() / "ranges.out").string();
  SideBySide(state, DiffPath() + " --json --bios-size=0x2000000 " + a + " " + b + " >" + out,
             "cmp -l " + a + " " + b + " >" + out);
  state.counters["ranges"] = double(ranges);
}
BENCHMARK(ManyRanges)
    ->Arg(50000)
    ->Arg(200000)
    ->Arg(500000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// 64 MiB dumps with one byte changed every 132 bytes (about 508,000
// ranges): random bytes (0), or 32 copies of the OVMF image (1), whose
// every range lies in a file and whose walk decompresses 64 volumes.
void RangesEvery132(benchmark::State& state) {
  std::vector<uint8_t> bytes = state.range(0) == 0 ? sim::PseudoRandomBytes(64u << 20, 8) : OvmfCopies();
  const std::string a = Write("every132_a.bin", bytes);
  for (uint64_t at = 0; at < bytes.size(); at += 132) bytes[at] ^= 0x5A;
  const std::string b = Write("every132_b.bin", bytes);
  const std::string out = (Dir() / "every132.out").string();
  const std::string plainOut = (Dir() / "every132.cmp").string();
  SideBySide(state, DiffPath() + " --json --bios-size=0x4000000 " + a + " " + b + " >" + out,
             "cmp -l " + a + " " + b + " >" + plainOut);
  state.counters["json_mb"] = FileMb(out);
  state.counters["cmp_mb"] = FileMb(plainOut);
}
BENCHMARK(RangesEvery132)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// One volume of `count` raw files of 32 bytes; Backup differs in the body
// of every other file.
void ManyFiles(benchmark::State& state) {
  static double seconds50k = 0;
  const size_t count = size_t(state.range(0));
  sim::VolumeSpec spec;
  spec.length = (0x48 + count * 32 + 0xFFF) & ~size_t(0xFFF);
  for (size_t i = 0; i < count; ++i) {
    sim::FileSpec file;
    file.name = sim::MakeGuid(uint32_t(i), 0x5151, 0x6262, {1, 2, 3, 4, 5, 6, 7, 8});
    file.type = sim::kFileTypeRaw;
    file.body = std::vector<uint8_t>(8, uint8_t(i));
    spec.files.push_back(sim::BuildFile(file));
  }
  std::vector<size_t> offsets;
  std::vector<uint8_t> bytes = sim::BuildVolume(spec, &offsets);
  const std::string a = Write("files_a.bin", bytes);
  for (size_t i = 0; i < count; i += 2) bytes[offsets[i] + 24] ^= 0xFF;
  const std::string b = Write("files_b.bin", bytes);
  const std::string out = (Dir() / "files.out").string();
  double total = 0;
  for (auto _ : state) {
    const Run run =
        RunCommand(DiffPath() + " --json --bios-size=" + std::to_string(bytes.size()) + " " + a + " " + b + " >" + out);
    state.SetIterationTime(run.seconds);
    total += run.seconds;
    state.counters["max_rss_mib"] = run.maxRssMib;
  }
  const double mean = total / double(state.iterations());
  if (count == 50000) seconds50k = mean;
  state.counters["seconds"] = mean;
  if (count == 500000 && seconds50k > 0) state.counters["ratio_to_50k"] = mean / seconds50k;
}
BENCHMARK(ManyFiles)->Arg(50000)->Arg(500000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// The page against the same run with --json: OVMF (0) or 64 MiB dumps with
// 200,000 differing ranges (1).
void PageBesideJson(benchmark::State& state) {
  std::string pair = OvmfPath("deb12u1") + " " + OvmfPath("deb12u2");
  if (state.range(0) == 1) {
    std::vector<uint8_t> bytes = sim::PseudoRandomBytes(64u << 20, 7);
    const std::string a = Write("page_a.bin", bytes);
    for (uint64_t at = 0; at < bytes.size(); at += bytes.size() / 200000) bytes[at] ^= 0x5A;
    pair = "--bios-size=0x4000000 " + a + " " + Write("page_b.bin", bytes);
  }
  const std::string page = (Dir() / "page.html").string();
  SideBySide(state, DiffPath() + " --html " + page + " " + pair + " >/dev/null",
             DiffPath() + " --json " + pair + " >" + (Dir() / "page.json").string());
  state.counters["page_bytes"] = double(fs::file_size(page));
}
BENCHMARK(PageBesideJson)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
