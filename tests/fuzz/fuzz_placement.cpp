// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: two dumps placed in one part by their Intel flash
// descriptors. The input's first 128 bytes are the two region tables
// (16 FLREG words each, limits up to 16 MiB, so regions run well past
// 1 MiB), the next 4 each file's length, the rest their bytes after the
// descriptor. Whatever the tables say, in both orders: the whole-file
// counts agree, a dump cut short never passes, and a cut dump's missing
// span lies inside what its descriptor states.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "diff/compare/chip_dump.h"
#include "diff/compare/comparison.h"

namespace {

constexpr size_t kDescriptor = 0x1000;

std::string Directory() {
  static std::string directory = [] {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string name = (base / "pellrix-fuzz-placement-XXXXXX").string();
    return std::string(mkdtemp(name.data()) != nullptr ? name : ".");
  }();
  return directory;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// A descriptor whose region table (at 0x40, 16 words, up to the master
// table at 0x80) holds the fuzzer's words, limits kept below 16 MiB.
std::string WriteDump(const char* name, const uint8_t* table, size_t length, const uint8_t* fill, size_t fillSize) {
  std::vector<uint8_t> bytes(std::max(length, kDescriptor), 0xFF);
  Put32(bytes, 16, 0x0FF0A55A);
  Put32(bytes, 20, 0x00040003);  // FRBA 0x40, FCBA 0x30, one component
  Put32(bytes, 24, 0x00000008);  // FMBA 0x80
  for (size_t i = 0; i < 16; ++i) {
    uint32_t word;
    std::memcpy(&word, table + 4 * i, 4);
    Put32(bytes, 0x40 + 4 * i, word & 0x0FFF0FFF);
  }
  for (size_t at = kDescriptor; at < bytes.size() && fillSize > 0; ++at)
    bytes[at] = fill[(at - kDescriptor) % fillSize];
  bytes.resize(length);
  const std::string path = Directory() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) __builtin_trap();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

struct Counts {
  uint64_t differing;
  uint64_t lengthBytes;
  uint64_t notErased;
  bool pass;
  bool cut;
};

// Nullopt when a dump is not taken (as the program refuses it).
std::optional<Counts> Run(const std::string& first, const std::string& second) {
  pdiff::ChipDump main;
  pdiff::ChipDump backup;
  std::string problem;
  if (!main.Load(first, &problem) || !backup.Load(second, &problem)) return std::nullopt;
  for (const pdiff::ChipDump* dump : {&main, &backup})
    if (!pdiff::GeometryTrouble(*dump, {}).empty()) return std::nullopt;
  const pdiff::Geometry geometry = pdiff::PairGeometry(main, backup, {});
  if (geometry.flashSize < geometry.biosSize) return std::nullopt;
  const pdiff::Comparison comparison = pdiff::Compare(main, backup, {});
  for (const pdiff::CutShortDump& cut : comparison.cutShort) {
    const pdiff::ChipDump& dump = cut.dump == 0 ? main : backup;
    if (!dump.cutShort() || cut.missingBegin > cut.missingEnd || cut.fileSize >= cut.statedSize) __builtin_trap();
  }
  if (!comparison.cutShort.empty() && comparison.verdict.pass) __builtin_trap();
  return Counts{comparison.whole.differingBytes, comparison.whole.length.bytes, comparison.whole.length.notErased,
                comparison.verdict.pass, !comparison.cutShort.empty()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 132) return 0;
  const size_t lengths[2] = {kDescriptor + (size_t(data[128] | data[129] << 8) << 4),
                             kDescriptor + (size_t(data[130] | data[131] << 8) << 4)};
  const std::string a = WriteDump("A.BIN", data, lengths[0], data + 132, size - 132);
  const std::string b = WriteDump("B.BIN", data + 64, lengths[1], data + 132, size - 132);
  const std::optional<Counts> forward = Run(a, b);
  const std::optional<Counts> backward = Run(b, a);
  if (!forward || !backward) return 0;
  if (forward->differing != backward->differing || forward->lengthBytes != backward->lengthBytes ||
      forward->notErased != backward->notErased || forward->cut != backward->cut)
    __builtin_trap();
  return 0;
}
