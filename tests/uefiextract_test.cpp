// SPDX-License-Identifier: BSD-2-Clause-Patent
// The builder's well-formed images read by an independent firmware-image
// parser, UEFIExtract (Debian's uefitool-cli, installed by tools/setup.sh):
// it must find nothing to complain about and list every volume and file the
// builder placed, at the offset where it lies, by GUID.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "image/volume_walker.h"
#include "sim/image_builder.h"
#include "tests/support/sim_support.h"

namespace {

using sim::Bytes;
using sim::Guid;

std::string GuidText(const uint8_t* g) {
  char text[40];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return text;
}

struct Extracted {
  int status = -1;
  std::string messages;  // everything the parser printed
  // Volumes and files of the report: offset in the image -> GUID.
  std::map<uint64_t, std::string> volumes;
  std::map<uint64_t, std::string> files;
};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" -");
  const size_t last = text.find_last_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

Extracted RunUefiExtract(const Bytes& image, const std::string& name) {
  support::TempDir dir;
  const std::string path = dir.str() + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  Extracted result;
  FILE* pipe = popen(("UEFIExtract '" + path + "' report 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.messages.append(buffer, n);
  result.status = pclose(pipe);
  std::ifstream report(path + ".report.txt");
  for (std::string line; std::getline(report, line);) {
    std::vector<std::string> columns;
    std::stringstream split(line);
    for (std::string column; std::getline(split, column, '|');) columns.push_back(column);
    if (columns.size() < 6) continue;  // a volume top file has a seventh column
    const std::string type = Trimmed(columns[0]);
    uint64_t base = 0;
    if (std::sscanf(columns[2].c_str(), " %lx", &base) != 1) continue;
    if (type == "Volume") result.volumes[base] = Trimmed(columns[5]);
    // Pad files carry no name; the parser calls them "Padding file".
    if (type == "File" && Trimmed(columns[5]) != "Padding file") result.files[base] = Trimmed(columns[5]);
  }
  return result;
}

void ExpectCleanReport(const Extracted& extracted) {
  ASSERT_EQ(extracted.status, 0) << "UEFIExtract missing or failing (tools/setup.sh installs uefitool-cli)\n"
                                 << extracted.messages;
  EXPECT_EQ(extracted.messages, "");
}

// A BIOS region made of builder parts whose every name the test knows.
TEST(UefiExtract, BuilderPartsAreFoundByName) {
  const Guid volumeName = sim::MakeGuid(0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8});
  const Guid driver = sim::MakeGuid(0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7});
  const Guid raw = sim::MakeGuid(0x88888888, 0x9999, 0xAAAA, {0xB, 0xB, 0xC, 0xC, 0xD, 0xD, 0xE, 0xE});
  sim::FileSpec driverFile;
  driverFile.name = driver;
  driverFile.body = sim::Section(sim::kSectionPe32, sim::Pe32Image(0x1200, 9));
  sim::FileSpec rawFile;
  rawFile.name = raw;
  rawFile.type = sim::kFileTypeFreeform;
  rawFile.body = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(100, 4));
  sim::VolumeSpec spec;
  spec.length = 0x10000;
  spec.ext_name = volumeName;
  spec.files = {sim::BuildFile(driverFile), sim::BuildDescriptorFile({}), sim::BuildFile(rawFile)};
  std::vector<size_t> offsets;
  const Bytes volume = sim::BuildVolume(spec, &offsets);
  // A firmware image ends with the volume whose top file holds the reset vector.
  const Guid topFileName = sim::MakeGuid(0x1BA0062E, 0xC779, 0x4582, {0x85, 0x66, 0x33, 0x6A, 0xE8, 0xF7, 0x8F, 0x09});
  sim::FileSpec topFile;
  topFile.name = topFileName;
  topFile.type = sim::kFileTypeRaw;
  topFile.body = sim::PseudoRandomBytes(0x400 - 24, 3);
  sim::VolumeSpec topSpec;
  topSpec.length = 0x10000;
  topSpec.files = {sim::BuildFile(topFile)};
  topSpec.last_file_at_top = true;
  constexpr size_t kStoreAt = 0x10000;
  constexpr size_t kVolumeAt = 0x20000;
  constexpr size_t kTopAt = 0x30000;
  const Bytes region =
      sim::BuildBiosRegion(0x40000, {{kStoreAt, sim::BuildVariableStoreVolume(0x10000, {{"Lang", "eng"}})},
                                     {kVolumeAt, volume},
                                     {kTopAt, sim::BuildVolume(topSpec)}});
  const Bytes part = sim::BuildFlashPart(0x80000, region);
  const size_t regionAt = part.size() - region.size();

  const Extracted extracted = RunUefiExtract(part, "parts.rom");
  ExpectCleanReport(extracted);
  EXPECT_EQ(extracted.volumes.at(regionAt + kVolumeAt), GuidText(volumeName.data()));
  EXPECT_EQ(extracted.volumes.at(regionAt + kStoreAt), GuidText(sim::FileSystem2Guid().data()));
  EXPECT_EQ(extracted.files.at(part.size() - 0x400), GuidText(topFileName.data()));
  const Guid names[] = {driver, sim::DescriptorFileName(), raw};
  for (size_t i = 0; i < offsets.size(); ++i)
    EXPECT_EQ(extracted.files.at(regionAt + kVolumeAt + offsets[i]), GuidText(names[i].data())) << i;
}

// The sample chips: every volume and named file the builder placed, as the
// program's own volume walker finds them, is in the report at the same place
// under the same name, and the report holds no others.
TEST(UefiExtract, SampleChipsAreCleanAndComplete) {
  for (bool backup : {false, true}) {
    SCOPED_TRACE(backup ? "Backup" : "Main");
    const Bytes chip = sim::BuildSampleChipImage(backup);
    const Extracted extracted = RunUefiExtract(chip, backup ? "backup.rom" : "main.rom");
    ExpectCleanReport(extracted);
    size_t volumes = 0;
    size_t files = 0;
    FirmwareVolume volume;
    for (uint64_t from = 0; FindFirmwareVolume(chip.data(), chip.size(), from, &volume); from = volume.Offset + 4096) {
      ++volumes;
      const std::string name = GuidText(volume.HasName ? volume.Name : volume.FileSystem);
      ASSERT_TRUE(extracted.volumes.contains(volume.Offset)) << "volume at " << volume.Offset;
      EXPECT_EQ(extracted.volumes.at(volume.Offset), name);
      uint64_t cursor = 0;
      FirmwareFile file;
      while (NextVolumeFile(chip.data(), volume, &cursor, &file)) {
        if (file.Type == sim::kFileTypePad) continue;  // filler, and the extended header's carrier
        ++files;
        ASSERT_TRUE(extracted.files.contains(file.Offset)) << "file at " << file.Offset;
        EXPECT_EQ(extracted.files.at(file.Offset), GuidText(file.Name));
      }
    }
    // Variable store (and Backup's stale copy), DXE, identity and PEI volumes.
    EXPECT_EQ(volumes, backup ? 5u : 4u);
    EXPECT_EQ(extracted.volumes.size(), volumes);
    EXPECT_EQ(extracted.files.size(), files);
    EXPECT_GT(files, 60u);
    EXPECT_TRUE(extracted.files.contains(sim::SampleSerialFileOffset()));
    EXPECT_EQ(extracted.files.at(sim::SampleDescriptorOffset() - sim::kDescriptorInFile),
              GuidText(sim::DescriptorFileName().data()));
  }
}

}  // namespace
