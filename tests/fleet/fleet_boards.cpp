// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/fleet/fleet_boards.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "fwtree/variable_store.h"

#include "tests/support/diff_support.h"
#include "tests/support/firmware_builder.h"

namespace fleetsupport {
namespace {

void Put32(sim::Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

sim::Bytes Driver(uint32_t seed) {
  sim::FileSpec spec;
  spec.name = support::NumberedGuid(0xF1EE7000, 1);
  spec.type = sim::kFileTypeDriver;
  spec.checksummed = false;  // the probe part's volume holds the descriptor
  spec.body =
      support::Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(700, seed)), support::UiSection(u"SetupDxe")});
  return sim::BuildFile(spec);
}

// An EDK2 non-volatile data volume whose store holds one variable, Setup,
// with one byte of data.
sim::Bytes SetupStore(uint8_t value) {
  sim::VolumeSpec spec;
  spec.length = support::ProbePart::kStoreLength;
  std::copy(fwtree::kSystemNvDataFileSystem.begin(), fwtree::kSystemNvDataFileSystem.end(), spec.file_system.begin());
  sim::Bytes volume = sim::BuildVolume(spec);
  const size_t store = sim::kVolumeHeaderLength;
  std::copy(fwtree::kVariableStoreSignature.begin(), fwtree::kVariableStoreSignature.end(), volume.begin() + store);
  Put32(volume, store + 16, 0x1000);
  volume[store + 20] = 0x5A;  // formatted
  volume[store + 21] = 0xFE;  // healthy
  std::memset(volume.data() + store + 22, 0, 6);
  // One variable, plain layout: start id, state, attributes, name and data
  // sizes, vendor GUID, then the UTF-16 name and the data.
  sim::Bytes variable(32, 0);
  variable[0] = 0xAA;
  variable[1] = 0x55;
  variable[2] = fwtree::kVariableAdded;
  Put32(variable, 4, 7);
  Put32(variable, 8, 12);
  Put32(variable, 12, 1);
  const sim::Guid vendor = support::NumberedGuid(0xF1EE7100, 1);
  std::copy(vendor.begin(), vendor.end(), variable.begin() + 16);
  for (char16_t unit : std::u16string(u"Setup") + u'\0') variable.insert(variable.end(), {uint8_t(unit), 0});
  variable.push_back(value);
  std::copy(variable.begin(), variable.end(), volume.begin() + long(store + 28));
  return volume;
}

}  // namespace

sim::Bytes BuildChip(ChipVariant variant) {
  const uint32_t serial = variant == ChipVariant::SerialOnly ? 2 : 1;
  const uint32_t seed = variant == ChipVariant::DriverChanged ? 9 : 1;
  sim::Bytes chip = support::BuildProbePart(support::ProbeDescriptor(), serial, "1", {Driver(seed)}).bytes;
  // The probe part's first store is replaced by an EDK2 one, whose
  // variables the comparison names.
  const sim::Bytes store = SetupStore(variant == ChipVariant::VariableChanged ? 2 : 1);
  std::copy(store.begin(), store.end(), chip.begin() + support::ProbePart::kBiosStart);
  if (variant == ChipVariant::DriverBitErrors) {
    // Past the file header (24 bytes), the section header (4) and the
    // image's headers, a bit that reads 0 in golden set in each byte.
    const sim::Guid name = support::NumberedGuid(0xF1EE7000, 1);
    const auto file = std::search(chip.begin(), chip.end(), name.begin(), name.end());
    for (long at : {0x200L, 0x240L}) {
      uint8_t& byte = *(file + 28 + at);
      const uint8_t clear = uint8_t(~byte);
      byte = uint8_t(byte | (clear & -clear));  // its lowest clear bit
    }
  }
  return chip;
}

void WriteFile(const std::filesystem::path& path, const sim::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteRunFolder(const std::filesystem::path& folder, const std::vector<sim::Bytes>& chips,
                    const std::string& result) {
  std::filesystem::create_directories(folder);
  if (chips.size() > 0) WriteFile(folder / "MAIN.BIN", chips[0]);
  if (chips.size() > 1) WriteFile(folder / "BACKUP.BIN", chips[1]);
  // The shell writes ASCII with CRLF line ends.
  if (!result.empty()) WriteFile(folder / "RESULT.TXT", sim::Bytes(result.begin(), result.end()));
  WriteFile(folder / "PELLRIX.LOG", sim::Bytes{'=', '=', '\r', '\n'});
}

sim::Guid FmpCapsuleGuid() {
  return sim::MakeGuid(0x6DCBD5ED, 0xE82D, 0x4C44, {0xBD, 0xA1, 0x71, 0x94, 0x19, 0x9A, 0xD9, 0x2A});
}

sim::Bytes CapsuleAround(const sim::Guid& guid, const sim::Bytes& body) {
  sim::Bytes capsule(28 + body.size(), 0);
  std::copy(guid.begin(), guid.end(), capsule.begin());
  Put32(capsule, 16, 28);
  Put32(capsule, 20, 0x50000);  // persist across reset, initiate reset
  Put32(capsule, 24, uint32_t(capsule.size()));
  std::copy(body.begin(), body.end(), capsule.begin() + 28);
  return capsule;
}

sim::Bytes FmpBody(const sim::Bytes& image, uint32_t version, uint16_t payloads, bool authenticated) {
  sim::Bytes carried;
  if (authenticated) {
    // Monotonic count, then WIN_CERTIFICATE_UEFI_GUID with a 40-byte PKCS7 blob.
    carried.assign(8, 0x11);
    sim::Bytes certificate(24 + 40, 0x22);
    Put32(certificate, 0, uint32_t(certificate.size()));
    certificate[4] = 0x00;
    certificate[5] = 0x02;
    certificate[6] = 0xF1;
    certificate[7] = 0x0E;
    carried.insert(carried.end(), certificate.begin(), certificate.end());
  }
  carried.insert(carried.end(), image.begin(), image.end());
  const size_t headerSize = version == 1 ? 32 : version == 2 ? 40 : 48;
  sim::Bytes body(8 + 8 * size_t(payloads), 0);
  Put32(body, 0, 1);
  body[6] = uint8_t(payloads);
  for (uint16_t i = 0; i < payloads; ++i) {
    Put32(body, 8 + 8 * i, uint32_t(body.size()));
    const size_t at = body.size();
    body.resize(at + headerSize, 0);
    Put32(body, at, version);
    Put32(body, at + 24, uint32_t(carried.size()));
    body.insert(body.end(), carried.begin(), carried.end());
  }
  return body;
}

}  // namespace fleetsupport
