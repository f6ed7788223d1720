// Writes seed inputs for the fuzz targets, made with the image builder:
//   make_seeds IMAGE_DIR CHECKSUM_DIR
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/image_builder.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds IMAGE_DIR CHECKSUM_DIR\n");
    return 2;
  }
  const std::string images = argv[1];
  const std::string checksums = argv[2];
  int n = 0;
  for (size_t size : {size_t(0x3000), size_t(0x4000)})
    for (bool ext : {false, true})
      for (uint8_t revision : {uint8_t(1), uint8_t(2)}) {
        size_t d = 0;
        Bytes image = SmallImage(size, ext, revision, &d);
        Write(images + "/seed" + std::to_string(n), image);
        Bytes prefixed = {uint8_t(d), uint8_t(d >> 8)};
        prefixed.insert(prefixed.end(), image.begin(), image.end());
        Write(checksums + "/seed" + std::to_string(n), prefixed);
        ++n;
      }
  return 0;
}
