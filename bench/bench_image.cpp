// SPDX-License-Identifier: BSD-2-Clause-Patent
// Image-analysis passes beside the plain library routine that touches the
// same bytes, timed in the same run. The "ratio" counter is ours divided by
// the reference, as in every benchmark here: 1 means as fast, 2 twice as
// slow; lower is better.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/checksums.h"
#include "image/descriptor_locator.h"
#include "image/masking.h"
#include "sim/image_builder.h"

namespace {

using sim::Bytes;
using Clock = std::chrono::steady_clock;

constexpr size_t kMiB = 1 << 20;
constexpr size_t kVolume = kMiB;  // volumes of 1 MiB fill the images

// A volume of checksummed modules with pseudo-random bodies (so that '$'
// turns up about every 256 bytes, as in compressed firmware), ending in
// erased space; `last` is added after the modules when given.
Bytes ModuleVolume(size_t length, uint32_t seed, std::vector<Bytes> extra = {}, size_t* extra_offset = nullptr) {
  sim::VolumeSpec spec;
  spec.length = length;
  size_t used = sim::kVolumeHeaderLength;
  size_t reserve = 0x1000;
  for (const Bytes& e : extra) reserve += e.size() + 8;
  for (uint32_t i = 0;; ++i) {
    const size_t body = 0x1000 + (seed * 7919u + i * 104729u) % 0xF000;
    if (used + body + 32 + reserve > length) break;
    sim::FileSpec f;
    f.name = sim::MakeGuid(seed << 16 | i, 1, 2, {3, 4, 5, 6, 7, 8, 9, uint8_t(i)});
    f.body = sim::PseudoRandomBytes(body, seed * 1000 + i);
    spec.files.push_back(sim::BuildFile(f));
    used += (spec.files.back().size() + 7) & ~size_t(7);
  }
  const size_t first_extra = spec.files.size();
  for (Bytes& e : extra) spec.files.push_back(std::move(e));
  std::vector<size_t> offsets;
  Bytes v = sim::BuildVolume(spec, &offsets);
  if (extra_offset && first_extra < offsets.size()) *extra_offset = offsets[first_extra];
  return v;
}

struct Images {
  Bytes locate;  // descriptor in the lowest volume
  size_t descriptor = 0;
  Bytes store;  // variable store in the middle, store length 256 KiB
  size_t store_offset = 0;
  size_t store_length = 0x40000;
};

const sim::Guid& AreaName(size_t i) {
  static std::vector<sim::Guid> names = [] {
    std::vector<sim::Guid> n;
    for (uint32_t k = 0; k < 8; ++k)
      n.push_back(sim::MakeGuid(0xA5EA0000u + k, 7, 7, {7, 7, 7, 7, 7, 7, 7, uint8_t(k)}));
    return n;
  }();
  return names[i];
}

const Images& ImagesOf(size_t size) {
  static std::map<size_t, std::unique_ptr<Images>> cache;
  auto& slot = cache[size];
  if (slot) return *slot;
  slot = std::make_unique<Images>();
  Images& im = *slot;
  // Checksum ranges of 1 MiB cover the whole image (the table allows 255).
  sim::DescriptorSpec spec;
  spec.flash_size = spec.bios_size = uint32_t(size);
  for (size_t o = 0; o < size; o += kMiB) spec.checksums.push_back({uint32_t(0u - size + o), 0x10000, 16, 0});
  // Eight area files of 32 KiB in the descriptor's volume.
  for (size_t k = 0; k < 8; ++k) spec.areas.push_back({"$AR" + std::to_string(k), 0x8000 - 28, AreaName(k)});
  std::vector<Bytes> extra;
  for (size_t k = 0; k < 8; ++k) {
    sim::FileSpec f;
    f.name = AreaName(k);
    f.body = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(0x8000 - 28, uint32_t(k)));
    extra.push_back(sim::BuildFile(f));
  }
  extra.push_back(sim::BuildDescriptorFile(spec));
  size_t first = 0;
  std::vector<sim::Placement> placements;
  placements.push_back({0, ModuleVolume(kVolume, 1, extra, &first)});
  size_t at = first;
  for (size_t k = 0; k < 8; ++k) at = (at + 0x8000 + 7) & ~size_t(7);
  im.descriptor = at + sim::kDescriptorInFile;
  for (size_t o = kVolume; o < size; o += kVolume)
    placements.push_back({o, ModuleVolume(kVolume, uint32_t(o / kVolume) + 1)});
  im.locate = sim::BuildBiosRegion(size, placements);
  sim::ComputeDescriptorChecksums(im.locate, im.descriptor);

  // The store image: module volumes, the store and its spare in the middle.
  im.store = im.locate;
  im.store_offset = size / 2;
  const Bytes store = sim::BuildVariableStoreVolume(im.store_length, {{"Setup", std::string(0x3000, 'x')}});
  std::memcpy(im.store.data() + im.store_offset, store.data(), store.size());
  return im;
}

// Runs `pass` and `baseline` alternately; reports the pass's time and the ratio.
template <typename Pass, typename Baseline, typename Restore>
void Compare(benchmark::State& state, size_t bytes, Pass pass, Baseline baseline, Restore restore) {
  double passSeconds = 0, baseSeconds = 0;
  for (auto _ : state) {
    restore();
    auto t0 = Clock::now();
    pass();
    auto t1 = Clock::now();
    restore();
    auto t2 = Clock::now();
    baseline();
    auto t3 = Clock::now();
    const double p = std::chrono::duration<double>(t1 - t0).count();
    passSeconds += p;
    baseSeconds += std::chrono::duration<double>(t3 - t2).count();
    state.SetIterationTime(p);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["ratio"] = baseSeconds > 0 ? passSeconds / baseSeconds : 0;
}

void BM_LocateDescriptor(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMiB;
  Bytes image = ImagesOf(size).locate;
  BiosInfo info;
  Compare(
      state, size,
      [&] {
        std::memset(&info, 0, sizeof info);
        info.Image = image.data();
        info.ImageSize = image.size();
        if (LocateDescriptor(&info) != kEfiSuccess) state.SkipWithError("not found");
        benchmark::DoNotOptimize(info);
      },
      [&] {
        // The library search for '$' over the same bytes, hit by hit.
        const uint8_t* p = image.data();
        const uint8_t* end = p + image.size();
        size_t hits = 0;
        while (const void* h = std::memchr(p, '$', size_t(end - p))) {
          ++hits;
          p = static_cast<const uint8_t*>(h) + 1;
        }
        benchmark::DoNotOptimize(hits);
      },
      [] {});
}

void BM_ValidateVolumeFiles(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMiB;
  const Bytes volume = ModuleVolume(size, 3);
  Compare(
      state, size,
      [&] {
        const bool ok = ValidateVolumeFiles(volume.data(), volume.data() + volume.size());
        if (!ok) state.SkipWithError("volume failed");
        benchmark::DoNotOptimize(ok);
      },
      [&] {
        uint32_t sum = 0;
        for (size_t i = 0; i + 4 <= volume.size(); i += 4) {
          uint32_t w;
          std::memcpy(&w, volume.data() + i, 4);
          sum += w;
        }
        benchmark::DoNotOptimize(sum);
      },
      [] {});
}

void BM_MaskVariableStore(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMiB;
  const Images& im = ImagesOf(size);
  Bytes image = im.store;
  const size_t fill = 2 * im.store_length;
  Compare(
      state, fill, [&] { MaskVariableStore(image.data(), image.size()); },
      [&] { benchmark::DoNotOptimize(std::memset(image.data() + im.store_offset, 0xFF, fill)); },
      [&] { std::memcpy(image.data() + im.store_offset, im.store.data() + im.store_offset, fill); });
}

void BM_MaskAreas(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMiB;
  const Images& im = ImagesOf(size);
  Bytes image = im.locate;
  BiosInfo info;
  std::memset(&info, 0, sizeof info);
  info.Image = image.data();
  info.ImageSize = image.size();
  if (LocateDescriptor(&info) != kEfiSuccess) state.SkipWithError("not found");
  const size_t blanked = 8 * (0x8000 - 28);
  // The bytes MaskAreas blanks, as one run for the library fill.
  Bytes scratch(blanked);
  Compare(
      state, blanked, [&] { MaskAreas(image.data(), &info); },
      [&] { benchmark::DoNotOptimize(std::memset(scratch.data(), 0xFF, blanked)); }, [] {});
}

void BM_VerifyDescriptorChecksums(benchmark::State& state) {
  const size_t size = size_t(state.range(0)) * kMiB;
  const Images& im = ImagesOf(size);
  Bytes image = im.locate;
  Compare(
      state, size,
      [&] {
        const bool ok = VerifyDescriptorChecksums(image.data(), uint32_t(image.size()), image.data() + im.descriptor);
        if (!ok) state.SkipWithError("checksums do not hold");
        benchmark::DoNotOptimize(ok);
      },
      [&] {
        uint32_t sum = 0;
        for (size_t i = 0; i + 4 <= image.size(); i += 4) {
          uint32_t w;
          std::memcpy(&w, image.data() + i, 4);
          sum += w;
        }
        benchmark::DoNotOptimize(sum);
      },
      [] {});
}

BENCHMARK(BM_LocateDescriptor)->Arg(16)->Arg(32)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateVolumeFiles)->Arg(16)->Arg(32)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskVariableStore)->Arg(16)->Arg(32)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskAreas)->Arg(16)->Arg(32)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VerifyDescriptorChecksums)->Arg(16)->Arg(32)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
