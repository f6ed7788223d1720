// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writes MAIN.BIN and BACKUP.BIN of a small built board for the report
// page's browser test: Backup adds a file, which moves the files after it;
// a driver with a section that cannot be opened changes; a driver in a
// volume nested (uncompressed) in a file changes; the serial file and the
// variable differ only in bytes the board masks; a driver inside an
// LZMA-compressed volume changes in three bytes, and its file as built is
// written beside the pair (PACKED-MAIN.BIN, PACKED-BACKUP.BIN) for the
// page's decompressed bytes to be checked against; beside it in that volume
// a driver only Main holds (PACKED-ONLY-MAIN.BIN).
// With --many-files N: one volume of N small named files instead, each
// changed in Backup but the last three, which only Main holds, for the
// page's large-table test and benchmark (give pellrix-diff --bios-size= the
// file's size).
//
//   make_builder_pair DIR
//   make_builder_pair --many-files N DIR
#include <cstdio>
#include <cstdlib>
#include <string>
#include <filesystem>

#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"

namespace {

using sim::Bytes;
using namespace support;

sim::Guid Name(uint32_t n) { return sim::MakeGuid(0xB0A00000 + n, 0x5150, 0x4A4A, {1, 2, 3, 4, 5, 6, 7, uint8_t(n)}); }

Bytes File(uint32_t n, const Bytes& sections, uint8_t type = sim::kFileTypeDriver) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.type = type;
  spec.checksummed = false;  // the probe part's volume holds the descriptor
  spec.body = sections;
  return sim::BuildFile(spec);
}

Bytes Driver(uint32_t n, const std::u16string& name, uint32_t seed) {
  return File(n, Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(600, n * 10 + seed)), UiSection(name)}));
}

// The driver kept compressed: the same bytes on both chips but three.
Bytes PackedDriver(bool backup) {
  Bytes data = sim::PseudoRandomBytes(0x180, 9);
  if (backup) {
    data[0x40] ^= 0x5A;
    data[0x101] ^= 0xA5;
    data[0x102] ^= 0x01;
  }
  return File(9, Sections({sim::Section(sim::kSectionRaw, data), UiSection(u"PackedDriver")}));
}

// A driver inside the compressed volume that only Main holds.
Bytes PackedOnlyInMain() {
  return File(
      12, Sections({sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(0x90, 12)), UiSection(u"PackedOnlyInMain")}));
}

std::vector<Bytes> MoreFiles(bool backup) {
  std::vector<Bytes> files;
  if (backup) files.push_back(Driver(1, u"AddedInBackup", 0));
  // A 300-character name with no space to break at: the page must wrap it.
  if (backup) files.push_back(Driver(7, std::u16string(300, u'W'), 0));
  // A GUID-defined section of an unknown GUID that needs processing.
  const Bytes sealed = GuidedSection(fwtree::GuidFromText("0D6A1F5E-2B3C-4D4E-9F60-718293A4B5C6"), kProcessingRequired,
                                     sim::PseudoRandomBytes(300, backup ? 2 : 1));
  files.push_back(File(2, Sections({sealed, UiSection(u"SealedDriver")})));
  files.push_back(Driver(3, u"MovedDriver", 0));
  sim::VolumeSpec nested;
  nested.length = 0x2000;
  nested.ext_name = Name(4);
  nested.files = {Driver(5, u"NestedDriver", backup ? 1 : 0)};
  files.push_back(File(6, Sections({VolumeImageSection(sim::BuildVolume(nested)), UiSection(u"NestedVolume")}),
                       kFileTypeVolumeImage));
  sim::VolumeSpec packed;
  packed.length = 0x800;
  packed.ext_name = Name(10);
  packed.files = {PackedDriver(backup)};
  if (!backup) packed.files.push_back(PackedOnlyInMain());
  files.push_back(
      File(11, Sections({LzmaSection(VolumeImageSection(sim::BuildVolume(packed))), UiSection(u"PackedVolume")}),
           kFileTypeVolumeImage));
  return files;
}

// N files of a few bytes each, named ManyFile0 and on; Backup changes the
// body of every one, so that the table lists them all, and lacks the last
// three (a class of a few rows among thousands).
Bytes ManyFilesVolume(uint32_t count, bool backup) {
  sim::VolumeSpec volume;
  size_t length = 0x48;
  for (uint32_t n = 0; n < count; ++n) {
    const std::string name = "ManyFile" + std::to_string(n);
    const uint8_t body = uint8_t(n) ^ (backup ? 0xFF : 0);
    const Bytes file = File(
        0x10000 + n,
        Sections({sim::Section(sim::kSectionRaw, Bytes(8, body)), UiSection(std::u16string(name.begin(), name.end()))}),
        sim::kFileTypeFreeform);
    length += (file.size() + 7) & ~size_t(7);  // both volumes of one length
    if (!backup || n + 3 < count || count <= 3) volume.files.push_back(file);
  }
  volume.length = (length + 0xFFF) & ~size_t(0xFFF);
  return sim::BuildVolume(volume);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--many-files") {
    const uint32_t count = uint32_t(std::strtoul(argv[2], nullptr, 10));
    const std::filesystem::path folder = argv[3];
    std::filesystem::create_directories(folder);
    WriteBytes(folder / "MAIN.BIN", ManyFilesVolume(count, false));
    WriteBytes(folder / "BACKUP.BIN", ManyFilesVolume(count, true));
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_builder_pair DIR | --many-files N DIR\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  WriteBytes(folder / "MAIN.BIN", BuildProbePart(ProbeDescriptor(), 1, "1", MoreFiles(false)).bytes);
  WriteBytes(folder / "BACKUP.BIN", BuildProbePart(ProbeDescriptor(), 2, "2", MoreFiles(true)).bytes);
  WriteBytes(folder / "PACKED-MAIN.BIN", PackedDriver(false));
  WriteBytes(folder / "PACKED-BACKUP.BIN", PackedDriver(true));
  WriteBytes(folder / "PACKED-ONLY-MAIN.BIN", PackedOnlyInMain());
  return 0;
}
