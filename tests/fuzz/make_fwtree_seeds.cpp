// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writes the seed inputs of the firmware-tree, decoder and pellrix-diff
// targets into OUT_DIR/seeds_<target>: cuts of the real OVMF images kept as
// test data, and images built with every encapsulation (4 KiB ones for
// pellrix-diff, whose seeds tests/fuzz/corpus/diff keeps).
//   make_fwtree_seeds OUT_DIR OVMF_IMAGE
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/firmware_builder.h"
#include "tests/support/standard_compressor.h"

namespace {

using sim::Bytes;
using namespace support;

void Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

Bytes Module(uint32_t seed, const std::u16string& name) {
  return Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(300, seed)), UiSection(name)});
}

Bytes Driver(uint32_t n, const Bytes& body) {
  sim::FileSpec spec;
  spec.name = sim::MakeGuid(0x5EED0000 + n, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});
  spec.body = body;
  return sim::BuildFile(spec);
}

// One small volume with a file per encapsulation, a nested one inside LZMA.
Bytes Encapsulations() {
  sim::VolumeSpec nested;
  nested.length = 0x2000;
  nested.files = {Driver(1, Module(1, u"Inner"))};
  sim::VolumeSpec volume;
  volume.length = 0x8000;
  volume.ext_name = sim::MakeGuid(0x5EED, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});
  volume.files = {
      Driver(2, LzmaSection(Module(2, u"Lzma"))),
      Driver(3, LzmaSection(Module(3, u"LzmaX86"), true)),
      Driver(4, BrotliSection(Module(4, u"Brotli"))),
      Driver(5, StandardCompressionSection(Module(5, u"Efi"), fwtree::StandardVariant::Efi11)),
      Driver(6, StandardCompressionSection(Module(6, u"Tiano"), fwtree::StandardVariant::Tiano)),
      Driver(7, Crc32Section(Module(7, u"Crc"))),
      Driver(8, LzmaSection(VolumeImageSection(sim::BuildVolume(nested)))),
  };
  return sim::BuildVolume(volume);
}

// The same encapsulations in 4 KiB volumes of two or three files each (so
// that one run decodes little), nested volume included: 48-byte raw
// sections where the larger image has PE32 images.
Bytes SmallModule(uint32_t seed, const std::u16string& name) {
  return Sections({sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(48, seed)), UiSection(name)});
}

enum SmallFile { kLzma, kEfi, kTiano, kBrotli, kPlain, kNested };

Bytes SmallEncapsulations(std::initializer_list<SmallFile> kinds, std::vector<size_t>* offsets = nullptr) {
  sim::VolumeSpec nested;
  nested.length = 0x200;
  nested.files = {Driver(21, SmallModule(21, u"Inner"))};
  sim::VolumeSpec volume;
  volume.length = 0x1000;
  for (SmallFile kind : kinds) {
    switch (kind) {
      case kLzma: volume.files.push_back(Driver(11, LzmaSection(SmallModule(11, u"Lzma")))); break;
      case kEfi:
        volume.files.push_back(
            Driver(12, StandardCompressionSection(SmallModule(12, u"Efi"), fwtree::StandardVariant::Efi11)));
        break;
      case kTiano:
        volume.files.push_back(
            Driver(13, StandardCompressionSection(SmallModule(13, u"Tiano"), fwtree::StandardVariant::Tiano)));
        break;
      case kBrotli: volume.files.push_back(Driver(14, BrotliSection(SmallModule(14, u"Brotli")))); break;
      case kPlain: volume.files.push_back(Driver(15, SmallModule(15, u"Plain"))); break;
      case kNested:
        volume.files.push_back(Driver(16, LzmaSection(VolumeImageSection(sim::BuildVolume(nested)))));
        break;
    }
  }
  return sim::BuildVolume(volume, offsets);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_fwtree_seeds OUT_DIR OVMF_IMAGE\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::ifstream in(argv[2], std::ios::binary);
  const Bytes ovmf((std::istreambuf_iterator<char>(in)), {});
  if (ovmf.size() != 0x200000) {
    std::fprintf(stderr, "%s: not the 2 MiB OVMF image\n", argv[2]);
    return 1;
  }
  for (const char* target : {"fwtree", "decompress", "diff"})
    std::filesystem::create_directories(out / (std::string("seeds_") + target));
  // OVMF's SEC volume (uncompressed files, a volume top file) and the start
  // of its code volume (header, extended header, the LZMA section's header).
  const Bytes sec(ovmf.end() - 0x34000, ovmf.end());
  const Bytes codeStart(ovmf.begin() + 0x20000, ovmf.begin() + 0x24000);
  const Bytes built = Encapsulations();
  Write(out / "seeds_fwtree/ovmf_sec", sec);
  Write(out / "seeds_fwtree/ovmf_code_start", codeStart);
  Write(out / "seeds_fwtree/encapsulations", built);

  const Bytes text(sec.begin() + 0x1000, sec.begin() + 0x3000);
  const auto selected = [](uint8_t choice, Bytes stream) {
    stream.insert(stream.begin(), choice);
    return stream;
  };
  Write(out / "seeds_decompress/efi", selected(0, StandardCompress(text, fwtree::StandardVariant::Efi11)));
  Write(out / "seeds_decompress/tiano", selected(1, StandardCompress(text, fwtree::StandardVariant::Tiano)));
  const Bytes lzma = LzmaSection(text);
  Write(out / "seeds_decompress/lzma", selected(2, Bytes(lzma.begin() + 24, lzma.end())));
  const Bytes lzmaX86 = LzmaSection(text, true);
  Write(out / "seeds_decompress/lzma_x86", selected(3, Bytes(lzmaX86.begin() + 24, lzmaX86.end())));
  const Bytes brotli = BrotliSection(text);
  Write(out / "seeds_decompress/brotli", selected(4, Bytes(brotli.begin() + 24, brotli.end())));

  // A command line, a NUL, then Main and Backup: 4 KiB volumes, against
  // copies with a byte changed in a plain file or in an LZMA stream, or
  // against themselves. Small, so that each run of pellrix-diff's code takes
  // well under a millisecond.
  std::vector<size_t> offsets;
  const Bytes lzmaPlain = SmallEncapsulations({kLzma, kPlain}, &offsets);
  Bytes plainChanged = lzmaPlain;
  plainChanged[offsets[1] + 40] ^= 0x10;
  Bytes lzmaChanged = lzmaPlain;
  lzmaChanged[offsets[0] + 60] ^= 0x01;
  const Bytes standard = SmallEncapsulations({kEfi, kTiano});
  const Bytes brotliNested = SmallEncapsulations({kBrotli, kNested, kPlain});
  const std::tuple<const char*, std::string, Bytes, Bytes> diffSeeds[] = {
      {"json_plain_changed", "--json", lzmaPlain, plainChanged},
      {"text_lzma_changed", "--max-ranges=3", lzmaPlain, lzmaChanged},
      {"no_mask_same", "--no-mask\n--block-size=0x1000", standard, standard},
      {"info_json", "--info\n--json", brotliNested, brotliNested},
      {"info_text", "--info", standard, standard},
  };
  for (const auto& [name, command, main, backup] : diffSeeds) {
    Bytes seed(command.begin(), command.end());
    seed.push_back(0);
    seed.insert(seed.end(), main.begin(), main.end());
    seed.insert(seed.end(), backup.begin(), backup.end());
    Write(out / "seeds_diff" / name, seed);
  }
  return 0;
}
