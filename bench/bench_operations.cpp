// Whole operations through pellrix-sim beside the plain tools that do the
// same work on the same bytes: the comparison of two 32 MiB chips against
// `cmp` of their image files, the save of one against `cp`, and pellrix-diff
// of two 32 MiB dumps against `cmp` of the same two files. Each benchmark
// reports the tool's time and a ratio counter (tool time / plain tool time).
// Progress output goes to a file, not a terminal.
#include <benchmark/benchmark.h>

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

// Times `tool` as the benchmark's iteration time and `plain` beside it.
void RunSideBySide(benchmark::State& state, const std::string& tool, const std::string& plain) {
  double toolSeconds = 0, plainSeconds = 0;
  for (auto _ : state) {
    double seconds = TimeCommand(tool);
    state.SetIterationTime(seconds);
    toolSeconds += seconds;
    plainSeconds += TimeCommand(plain);
  }
  state.counters["plain_s"] = plainSeconds / static_cast<double>(state.iterations());
  state.counters["ratio"] = plainSeconds > 0 ? toolSeconds / plainSeconds : 0;
}

void BM_CompareVsCmp(benchmark::State& state) {
  Workspace& files = Files();
  RunSideBySide(state, SimPath() + " --board " + files.board + " -- > " + (files.dir / "compare.out").string(),
                "cmp " + files.main + " " + files.backup + " > /dev/null");
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
  RunSideBySide(state, DiffPath() + " " + dumps.main + " " + dumps.backup + " > /dev/null",
                "cmp " + dumps.main + " " + dumps.backup + " > /dev/null");
}

BENCHMARK(BM_CompareVsCmp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_SaveVsCp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_DiffVsCmp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
