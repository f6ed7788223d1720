// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writes seed inputs for every fuzz target, made with the image builder and
// the virtual-board writer, into OUT_DIR/seeds_<target> (and a few values
// and descriptor tables of pellrix-diff's own targets):
//   make_seeds OUT_DIR
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/image_builder.h"
#include "sim/vboard/vboard_writer.h"

namespace {

using sim::Bytes;

void Write(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fclose(f);
}

const sim::Guid kArea = sim::MakeGuid(0x11112222, 0x3333, 0x4444, {5, 5, 6, 6, 7, 7, 8, 8});

// A small BIOS region: variable store at the bottom, the descriptor's volume
// above it; `size` bytes ending at 4 GiB.
Bytes SmallImage(size_t size, bool ext, uint8_t revision, size_t* descriptor) {
  sim::DescriptorSpec spec;
  spec.revision[1] = revision;
  spec.flash_size = spec.bios_size = uint32_t(size);
  const uint32_t base = 0u - uint32_t(size);
  spec.checksums = {{base + 0x1000, 0x100, 4, 0}, {base, 0x10, 16, 0}};
  spec.areas = {{"$SSN", 16, kArea}, {"$MAC", 6, kArea}};
  sim::FileSpec area;
  area.name = kArea;
  area.body = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(40, 3));
  sim::VolumeSpec volume;
  volume.length = size - 0x1000;
  if (ext) volume.ext_name = sim::MakeGuid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11});
  volume.files = {sim::BuildFile(area), sim::BuildDescriptorFile(spec)};
  std::vector<size_t> offsets;
  Bytes code = sim::BuildVolume(volume, &offsets);
  Bytes image = sim::BuildBiosRegion(size, {{0, sim::BuildVariableStoreVolume(0x1000, {{"A", "1"}})}, {0x1000, code}});
  *descriptor = 0x1000 + offsets[1] + sim::kDescriptorInFile;
  sim::ComputeDescriptorChecksums(image, *descriptor);
  return image;
}

// VBOARD.BIN's header for a board of two chips holding `image`, their bytes, and
// mailbox requests (command and chip, address, length, destination offset).
Bytes VboardInput(const Bytes& image) {
  sim::Board board;
  for (sim::Chip* chip : {&board.main, &board.backup}) {
    chip->image = image;
    chip->flash_size = chip->bios_size = uint32_t(image.size());
  }
  const vboard::BoardFile header = vboard::BoardFileOf(board);
  Bytes input(reinterpret_cast<const uint8_t*>(&header), reinterpret_cast<const uint8_t*>(&header) + sizeof header);
  input.insert(input.end(), image.begin(), image.end());
  input.insert(input.end(), image.begin(), image.end());
  const uint32_t base = 0u - uint32_t(image.size());
  const uint32_t requests[][4] = {{0x001, 0, 0, 0}, {0x002, base, 0x1000, 0}, {0x102, base + 0x800, 0x1000, 0x100}};
  for (const auto& request : requests)
    input.insert(input.end(), reinterpret_cast<const uint8_t*>(request), reinterpret_cast<const uint8_t*>(request + 1));
  return input;
}

const char* const kBoardFiles[] = {
    "{}",
    R"({"active": "backup", "switch": "stuck", "chips": {"main": {"flash_size": "0x20000", "bios_size": "0x10000",
       "block_size": 4096, "part_name": "W25Q128"}, "backup": {"flash_size": 65536}}})",
    R"({"chip_select": "absent", "is_supported": 0, "mailbox": "qv1", "fail_alloc": [1, 3],
       "mtrr": {"variable_pairs": 8, "phys_address_bits": 40}})",
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUT_DIR\n");
    return 2;
  }
  auto directory = [&](const std::string& target) {
    const std::string path = std::string(argv[1]) + "/seeds_" + target;
    std::filesystem::create_directories(path);
    return path;
  };
  int n = 0;
  for (size_t size : {size_t(0x3000), size_t(0x4000)})
    for (bool ext : {false, true})
      for (uint8_t revision : {uint8_t(1), uint8_t(2)}) {
        size_t d = 0;
        Bytes image = SmallImage(size, ext, revision, &d);
        const std::string name = "/seed" + std::to_string(n++);
        // The image targets read the same images: as a BIOS region or as the window's top.
        for (const char* target : {"image", "volume_walker", "window_locator"}) Write(directory(target) + name, image);
        Bytes prefixed = {uint8_t(d), uint8_t(d >> 8)};
        prefixed.insert(prefixed.end(), image.begin(), image.end());
        Write(directory("checksums") + name, prefixed);
        Write(directory("vboard_file") + name, VboardInput(image));
      }
  n = 0;
  for (const char* text : kBoardFiles)
    Write(directory("board_file") + "/seed" + std::to_string(n++), Bytes(text, text + std::strlen(text)));
  // A db value (name 11 of the target's table) of one list of two SHA-256
  // entries, and a BootOrder value.
  Bytes database = {11, 0x26, 0x16, 0xC4, 0xC1, 0x4C, 0x50, 0x92, 0x40, 0xAC, 0xA9, 0x41, 0xF9, 0x36, 0x93, 0x43, 0x28};
  const uint32_t sizes[3] = {28 + 2 * 48, 0, 48};
  for (uint32_t size : sizes)
    for (int i = 0; i < 4; ++i) database.push_back(uint8_t(size >> (8 * i)));
  database.resize(database.size() + 2 * 48, 0x5A);
  Write(directory("variable_value") + "/seed0", database);
  Write(directory("variable_value") + "/seed1", Bytes{2, 0x01, 0x00, 0x02, 0x00});
  // A certificate's first bytes: a DER SEQUENCE header.
  Write(directory("certificate") + "/seed0", Bytes{0x30, 0x82, 0x01, 0x0A, 0x30, 0x81, 0xF0});
  // Two tables of a descriptor, an ME and a BIOS region (as 4 KiB base and
  // limit fields), the second's BIOS region lower; file lengths, then fill.
  Bytes placement(132, 0xFF);
  const uint32_t tables[2][3] = {{0x00000000, 0x07FF0200, 0x01FF0001}, {0x00000000, 0x07FF0180, 0x017F0001}};
  for (int t = 0; t < 2; ++t)
    for (int r = 0; r < 3; ++r)
      for (int i = 0; i < 4; ++i) placement[size_t(64 * t + 4 * r + i)] = uint8_t(tables[t][r] >> (8 * i));
  placement[128] = 0x00;
  placement[129] = 0x10;  // 64 KiB past the descriptor
  placement[130] = 0x00;
  placement[131] = 0x08;
  placement.insert(placement.end(), {0x12, 0x34, 0xFF, 0xFF});
  Write(directory("placement") + "/seed0", placement);
  return 0;
}
