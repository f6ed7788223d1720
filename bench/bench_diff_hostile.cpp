// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff on firmware built to make a reader allocate or work without
// end, each run's peak resident memory beside the size of its inputs: an
// LZMA section inflating to 64 MiB of 24-byte files (2.8 million), alone
// and against a copy differing in one erased byte; a standard-compression stream of 150 MiB that decodes
// as EFI 1.1 into bytes that are no section list; 128 garbage Brotli
// sections each stating 256 MiB; an LZMA stream of 100 MiB whose header asks
// a 1.5 GiB dictionary. Counter "over_inputs_mib": peak memory less the
// inputs' size (goal: at most 512 for every case); "max_rss_mib" the peak.
// PELLRIX_DIFF names another pellrix-diff to measure.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/diff_runner.h"
#include "fwtree/guid.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/standard_compressor.h"

namespace {

namespace fs = std::filesystem;
using sim::Bytes;

const fs::path& Dir() {
  static const fs::path dir = bench::ScratchDir("pellrix-bench-hostile");
  return dir;
}

std::string Write(const std::string& name, const Bytes& bytes) { return bench::WriteInput(Dir(), name, bytes); }

void PutLe(Bytes& bytes, size_t at, uint64_t value, int count) {
  for (int i = 0; i < count; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

Bytes File(uint32_t n, const Bytes& body, uint8_t type = sim::kFileTypeDriver) {
  sim::FileSpec spec;
  spec.name = sim::MakeGuid(0xB0A70000 + n, 1, 2, {3, 4, 5, 6, 7, 8, 9, uint8_t(n)});
  spec.type = type;
  spec.body = body;
  spec.checksummed = false;
  return sim::BuildFile(spec);
}

// A 1 MiB dump: one volume holding `files`, erased above it.
Bytes Dump(std::vector<Bytes> files) {
  sim::VolumeSpec volume;
  volume.length = 1u << 20;
  volume.files = std::move(files);
  return sim::BuildVolume(volume);
}

Bytes TinyFilesInLzma() {
  const Bytes tiny = File(1, {}, 0x02);
  const size_t count = (64u << 20) / tiny.size();
  sim::VolumeSpec inner;
  inner.length = (sim::kVolumeHeaderLength + count * tiny.size() + 0xFFF) & ~size_t(0xFFF);
  Bytes volume = sim::BuildVolume(inner);
  for (size_t i = 0; i < count; ++i)
    std::copy(tiny.begin(), tiny.end(), volume.begin() + long(sim::kVolumeHeaderLength + i * tiny.size()));
  return Dump({File(2, support::LzmaSection(support::LargeSection(support::kSectionVolumeImage, volume)))});
}

// One literal, then matches of 256 bytes: 150 MiB of one letter.
Bytes StandardOfNoSections() {
  std::vector<support::StandardToken> tokens = {{'x', 0}};
  constexpr uint32_t kSize = 150u << 20;
  tokens.insert(tokens.end(), (kSize - 1 + 255) / 256, support::StandardToken{509, 0});
  const Bytes stream = support::StandardEncodeTokens(tokens, kSize, fwtree::StandardVariant::Efi11);
  Bytes section(9);
  PutLe(section, 0, 9 + stream.size(), 3);
  section[3] = support::kSectionCompression;
  PutLe(section, 4, kSize, 4);
  section[8] = 1;
  section.insert(section.end(), stream.begin(), stream.end());
  return Dump({File(3, section)});
}

Bytes GarbageBrotli() {
  std::vector<Bytes> files;
  for (uint32_t n = 0; n < 128; ++n) {
    Bytes garbage(64, uint8_t(0x5A + n));
    PutLe(garbage, 0, 256u << 20, 8);
    files.push_back(File(n, support::GuidedSection(fwtree::kBrotliSection, support::kProcessingRequired, garbage)));
  }
  return Dump(files);
}

Bytes LzmaAskingAHugeDictionary() {
  Bytes section = support::LzmaSection(Bytes(100u << 20, 0));
  PutLe(section, 24 + 1, 0x60000000, 4);
  return Dump({File(4, section)});
}

void PeakMemory(benchmark::State& state, const std::vector<std::string>& inputs, const std::string& options) {
  uint64_t inputBytes = 0;
  std::string command = bench::DiffPath() + " " + options;
  for (const std::string& input : inputs) {
    inputBytes += fs::file_size(input);
    command += " " + input;
  }
  command += " >/dev/null 2>&1";
  double rss = 0;
  for (auto _ : state) {
    const bench::Run run = bench::RunCommand(command);
    state.SetIterationTime(run.seconds);
    rss = std::max(rss, run.maxRssMib);
  }
  state.counters["max_rss_mib"] = rss;
  state.counters["over_inputs_mib"] = rss - double(inputBytes) / (1 << 20);
}

void TinyFilesInfo(benchmark::State& state) {
  static const std::string dump = Write("tiny_files.bin", TinyFilesInLzma());
  PeakMemory(state, {dump}, "--info --json");
}
BENCHMARK(TinyFilesInfo)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Against a copy differing in its last (erased) byte: identical dumps are
// not walked at all.
void TinyFilesAgainstThemselves(benchmark::State& state) {
  static const std::string dump = Write("tiny_files.bin", TinyFilesInLzma());
  static const std::string copy = [] {
    Bytes bytes = TinyFilesInLzma();
    bytes.back() ^= 1;
    return Write("tiny_files_copy.bin", bytes);
  }();
  PeakMemory(state, {dump, copy}, "--json --bios-size=0x100000");
}
BENCHMARK(TinyFilesAgainstThemselves)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void StandardStreamOfNoSections(benchmark::State& state) {
  static const std::string dump = Write("standard.bin", StandardOfNoSections());
  PeakMemory(state, {dump}, "--info --json");
}
BENCHMARK(StandardStreamOfNoSections)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void GarbageBrotliSections(benchmark::State& state) {
  static const std::string dump = Write("brotli.bin", GarbageBrotli());
  PeakMemory(state, {dump}, "--info --json");
}
BENCHMARK(GarbageBrotliSections)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void LzmaHugeDictionary(benchmark::State& state) {
  static const std::string dump = Write("lzma_dictionary.bin", LzmaAskingAHugeDictionary());
  static const std::string copy = [] {
    Bytes bytes = LzmaAskingAHugeDictionary();
    bytes.back() ^= 1;
    return Write("lzma_dictionary_copy.bin", bytes);
  }();
  PeakMemory(state, {dump, copy}, "--json --bios-size=0x100000");
}
BENCHMARK(LzmaHugeDictionary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
