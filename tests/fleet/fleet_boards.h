// SPDX-License-Identifier: BSD-2-Clause-Patent
// Built boards for pellrix-fleet's tests and benchmark: a golden probe part
// with a named driver and a variable, and chips that differ from it in one
// known way each.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/image_builder.h"

namespace fleetsupport {

enum class ChipVariant {
  Golden,
  SerialOnly,       // another serial: differs only where the board masks
  DriverChanged,    // the DXE driver "SetupDxe" built from another seed
  VariableChanged,  // the variable Boot holds another value
  DriverBitErrors   // golden with two bits set, far apart, inside "SetupDxe"'s image
};

sim::Bytes BuildChip(ChipVariant variant);

void WriteFile(const std::filesystem::path& path, const sim::Bytes& bytes);

// A kit RUN folder: MAIN.BIN and BACKUP.BIN (when given), RESULT.TXT with
// `result` (when not empty), each as the kit writes it.
void WriteRunFolder(const std::filesystem::path& folder, const std::vector<sim::Bytes>& chips,
                    const std::string& result);

// An EFI capsule header (28 bytes) with `guid` in front of `body`.
sim::Bytes CapsuleAround(const sim::Guid& guid, const sim::Bytes& body);
// An FMP capsule body: `payloads` image headers of `version`, each carrying
// `image`, optionally behind an authentication header.
sim::Bytes FmpBody(const sim::Bytes& image, uint32_t version, uint16_t payloads, bool authenticated);
sim::Guid FmpCapsuleGuid();

}  // namespace fleetsupport
