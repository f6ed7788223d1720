// SPDX-License-Identifier: BSD-2-Clause-Patent
// Whole operations through pellrix-sim beside the plain tools that do the
// same work on the same bytes: the comparison of two 32 MiB chips against
// `cmp` of their image files, the save of one against `cp`, and pellrix-diff
// of two 32 MiB dumps against `cmp` of the same two files. Each benchmark
// reports the tool's time and ratio counters, ours divided by the reference
// (lower is better): "ratio" against the plain tool, and for the comparisons
// "ratio_floor" against the real floor, the two files mapped and compared
// with memcmp in this process. Goals: compare <= 1.5x cmp, save <= 2x cp,
// pellrix-diff <= 2x cmp. Progress output goes to a file, not a terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/image_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t k32MiB = 32u << 20;

struct Workspace {
  fs::path dir;
  std::string board;
  std::string main;
  std::string backup;

  Workspace() {
    dir = fs::temp_directory_path() / "pellrix-bench";
    fs::create_directories(dir);
    // A whole-part BIOS region: random filler with the sample firmware's
    // BIOS region at the top, so the descriptor, masks and checksums are real.
    std::vector<uint8_t> sample = sim::BuildSampleChipImage(false);
    std::vector<uint8_t> image = sim::PseudoRandomBytes(k32MiB, 11);
    std::copy(sample.end() - 0x800000, sample.end(), image.end() - 0x800000);
    main = (dir / "main.rom").string();
    backup = (dir / "backup.rom").string();
    std::ofstream(main, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    std::ofstream(backup, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    board = (dir / "board.json").string();
    std::ofstream(board) << R"({"chips": {"main": {"image": "main.rom", "bios_size": 33554432},
                                          "backup": {"image": "backup.rom", "bios_size": 33554432}}})";
  }
};

Workspace& Files() {
  static Workspace workspace;
  return workspace;
}

// Two equal 32 MiB dumps whose descriptor makes the whole part the BIOS
// region, so that pellrix-diff locates, verifies, masks and compares all of it.
struct DiffDumps {
  std::string main;
  std::string backup;

  DiffDumps() {
    const fs::path dir = Files().dir;
    std::vector<uint8_t> sample = sim::BuildSampleChipImage(false);
    std::vector<uint8_t> image = sim::PseudoRandomBytes(k32MiB, 12);
    std::copy(sample.end() - 0x800000, sample.end(), image.end() - 0x800000);
    const size_t descriptor = sim::SampleDescriptorOffset() + (k32MiB - sample.size());
    for (size_t field : {size_t(16), size_t(20)})  // FlashSize, BiosSize
      std::memcpy(image.data() + descriptor + field, &k32MiB, 4);
    sim::ComputeDescriptorChecksums(image, descriptor);
    sim::FixFileChecksums(image.data() + descriptor - sim::kDescriptorInFile);
    main = (dir / "diff_main.bin").string();
    backup = (dir / "diff_backup.bin").string();
    std::ofstream(main, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    std::ofstream(backup, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  }
};

std::string DiffPath() {
  const char* path = std::getenv("PELLRIX_DIFF");
  return path != nullptr ? path : PELLRIX_DIFF_PATH;
}

std::string SimPath() {
  const char* path = std::getenv("PELLRIX_SIM");
  return path != nullptr ? path : PELLRIX_SIM_PATH;
}

double TimeCommand(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status == -1) std::abort();
  return elapsed;
}

// The floor of any comparison of two files: both mapped, one memcmp.
double TimeMappedMemcmp(const std::string& first, const std::string& second) {
  auto start = std::chrono::steady_clock::now();
  int a = open(first.c_str(), O_RDONLY);
  int b = open(second.c_str(), O_RDONLY);
  struct stat info {};
  if (a < 0 || b < 0 || fstat(a, &info) != 0) std::abort();
  size_t size = static_cast<size_t>(info.st_size);
  void* x = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, a, 0);
  void* y = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, b, 0);
  if (x == MAP_FAILED || y == MAP_FAILED) std::abort();
  benchmark::DoNotOptimize(std::memcmp(x, y, size));
  munmap(x, size);
  munmap(y, size);
  close(a);
  close(b);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times `tool` as the benchmark's iteration time and `plain` beside it, and
// with `floorFiles` the mapped memcmp of those two files as well.
void RunSideBySide(benchmark::State& state, const std::string& tool, const std::string& plain,
                   const std::pair<std::string, std::string>* floorFiles = nullptr) {
  double toolSeconds = 0, plainSeconds = 0, floorSeconds = 0;
  for (auto _ : state) {
    double seconds = TimeCommand(tool);
    state.SetIterationTime(seconds);
    toolSeconds += seconds;
    plainSeconds += TimeCommand(plain);
    if (floorFiles != nullptr) floorSeconds += TimeMappedMemcmp(floorFiles->first, floorFiles->second);
  }
  state.counters["plain_s"] = plainSeconds / static_cast<double>(state.iterations());
  state.counters["ratio"] = plainSeconds > 0 ? toolSeconds / plainSeconds : 0;
  if (floorFiles != nullptr) state.counters["ratio_floor"] = floorSeconds > 0 ? toolSeconds / floorSeconds : 0;
}

void BM_CompareVsCmp(benchmark::State& state) {
  Workspace& files = Files();
  const std::pair<std::string, std::string> chips{files.main, files.backup};
  RunSideBySide(state, SimPath() + " --board " + files.board + " -- > " + (files.dir / "compare.out").string(),
                "cmp " + files.main + " " + files.backup + " > /dev/null", &chips);
}

void BM_SaveVsCp(benchmark::State& state) {
  Workspace& files = Files();
  RunSideBySide(state,
                SimPath() + " --board " + files.board + " --dir " + files.dir.string() + " -- /s 1 > " +
                    (files.dir / "save.out").string(),
                "cp " + files.main + " " + (files.dir / "COPY.BIN").string());
}

void BM_DiffVsCmp(benchmark::State& state) {
  static DiffDumps dumps;
  const std::pair<std::string, std::string> files{dumps.main, dumps.backup};
  RunSideBySide(state, DiffPath() + " " + dumps.main + " " + dumps.backup + " > /dev/null",
                "cmp " + dumps.main + " " + dumps.backup + " > /dev/null", &files);
}

BENCHMARK(BM_CompareVsCmp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_SaveVsCp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DiffVsCmp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace
