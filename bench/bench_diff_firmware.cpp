// pellrix-diff on firmware-sized inputs beside the plain tools over the same
// files: two identical 64 MiB dumps against `cmp`; the OVMF pair with every
// compressed volume opened against UEFIExtract's `report` of one of them;
// dumps with 50,000 and 200,000 differing ranges in --json against `cmp -l`,
// with the peak memory of each run; the report page (--html) beside --json
// for the OVMF pair and 64 MiB dumps with 200,000 differing ranges.
// Counters: "ratio" ours / reference (lower is better; goals: identical <= 1x
// cmp, OVMF pair <= 1x UEFIExtract, ranges <= 5x cmp -l, page <= 1.2x
// --json), "max_rss_mib", which must not grow with the number of ranges
// beyond the ranges' own small records, and "page_bytes" (goal <= 2 MB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/image_builder.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir = [] {
    const fs::path path = fs::temp_directory_path() / "pellrix-bench-firmware";
    fs::create_directories(path);
    return path;
  }();
  return dir;
}

std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
  const fs::path path = Dir() / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path.string();
}

std::string DiffPath() {
  const char* path = std::getenv("PELLRIX_DIFF");
  return path != nullptr ? path : PELLRIX_DIFF_PATH;
}

std::string OvmfPath(const char* build) {
  return std::string(PELLRIX_SOURCE_DIR) + "/tests/data/ovmf/ovmf-2022.11-6+" + build + ".fd";
}

struct Run {
  double seconds;
  double maxRssMib;
};

// One shell command, its wall time and its peak resident memory.
Run RunCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) std::abort();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), usage.ru_maxrss / 1024.0};
}

void SideBySide(benchmark::State& state, const std::string& tool, const std::string& plain) {
  double toolSeconds = 0, plainSeconds = 0, rss = 0;
  for (auto _ : state) {
    const Run run = RunCommand(tool);
    state.SetIterationTime(run.seconds);
    toolSeconds += run.seconds;
    rss = std::max(rss, run.maxRssMib);
    plainSeconds += RunCommand(plain).seconds;
  }
  state.counters["plain_s"] = plainSeconds / double(state.iterations());
  state.counters["ratio"] = plainSeconds > 0 ? toolSeconds / plainSeconds : 0;
  state.counters["max_rss_mib"] = rss;
}

void IdenticalDumps(benchmark::State& state) {
  static const std::string a = Write("same_a.bin", sim::PseudoRandomBytes(64u << 20, 5));
  static const std::string b = Write("same_b.bin", sim::PseudoRandomBytes(64u << 20, 5));
  SideBySide(state, DiffPath() + " --bios-size=0x4000000 " + a + " " + b + " >/dev/null",
             "cmp " + a + " " + b + " >/dev/null");
}
BENCHMARK(IdenticalDumps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void OvmfPairAgainstUefiExtract(benchmark::State& state) {
  const std::string copy = (Dir() / "ovmf.fd").string();
  fs::copy_file(OvmfPath("deb12u1"), copy, fs::copy_options::overwrite_existing);
  SideBySide(state, DiffPath() + " --json " + OvmfPath("deb12u1") + " " + OvmfPath("deb12u2") + " >/dev/null",
             "rm -f " + copy + ".report.txt; UEFIExtract " + copy + " report >/dev/null 2>&1");
}
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
BENCHMARK(ManyRanges)->Arg(50000)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

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
