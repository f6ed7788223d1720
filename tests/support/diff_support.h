// SPDX-License-Identifier: BSD-2-Clause-Patent
// Running pellrix-diff and the simulated board's comparison test on the same
// two dump files, and a small firmware part whose places are all known.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/image_builder.h"

namespace support {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` (no shell), capturing both outputs.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments);

ProgramRun RunDiff(const std::vector<std::string>& arguments);
// `pellrix-diff --json` on two files; fails the test when the output is not
// one JSON document or the exit status is not 0 or 1.
nlohmann::json DiffJson(const std::filesystem::path& main, const std::filesystem::path& backup,
                        std::vector<std::string> options = {});
// The report with each listed range's place (kind, region, volume, files)
// copied in from the document's table of places, as a reader resolves it.
nlohmann::json Placed(const nlohmann::json& report);

struct BoardVerdict {
  int status = -1;
  std::optional<uint32_t> address;  // from "FAIL at address 0x..."
};

// The comparison test of pellrix-sim on a board whose chips are the two
// files, each mapped with the given BIOS size and block size (the flash size
// is the file's length).
BoardVerdict RunBoardComparison(const std::filesystem::path& main, const std::filesystem::path& backup,
                                uint64_t biosSize, uint32_t blockSize = 4096);

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A 128 KiB part whose top 64 KiB are the BIOS region: an NVAR variable
// store with its spare at the bottom, then one named volume holding the
// descriptor file, the area-listed serial file and a driver named "DiffProbe"
// by its user-interface section, followed by free space.
struct ProbePart {
  static constexpr uint32_t kFlashSize = 0x20000;
  static constexpr uint32_t kBiosSize = 0x10000;
  static constexpr uint32_t kBiosStart = kFlashSize - kBiosSize;
  static constexpr uint32_t kStoreLength = 0x2000;
  static constexpr uint32_t kVolume = kBiosStart + 2 * kStoreLength;  // offsets in the part
  static constexpr uint32_t kVolumeLength = kBiosSize - 2 * kStoreLength;

  sim::Bytes bytes;
  uint32_t descriptor = 0;
  uint32_t serialBody = 0;  // first byte after the serial file's section header
  uint32_t driver = 0;
  uint32_t driverData = 0;  // inside the driver's raw section
  uint32_t freeSpace = 0;   // first byte after the last file

  static sim::Guid VolumeName();
  static sim::Guid DriverName();
  static sim::Guid SerialName();
};

// The descriptor the probe part carries unless told otherwise.
sim::DescriptorSpec ProbeDescriptor();
// Chips of one board differ in `serialSeed` and `variableValue`, which only
// masking hides. `moreFiles` (built, not checksummed) follow the driver.
ProbePart BuildProbePart(const sim::DescriptorSpec& descriptor = ProbeDescriptor(), uint32_t serialSeed = 1,
                         const std::string& variableValue = "1", const std::vector<sim::Bytes>& moreFiles = {});

}  // namespace support
