// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/diff_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>

#include "tests/support/sim_support.h"

extern char** environ;

namespace support {

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

sim::Bytes Utf16(const std::string& text) {
  sim::Bytes bytes;
  for (char c : text) bytes.insert(bytes.end(), {uint8_t(c), 0});
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

constexpr uint8_t kSectionUserInterface = 0x15;
constexpr size_t kSerialBytes = 16;

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  TempDir scratch;
  const std::filesystem::path out = scratch.path() / "out", err = scratch.path() / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ProgramRun run;
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  return run;
}

ProgramRun RunDiff(const std::vector<std::string>& arguments) { return RunProgram(PELLRIX_DIFF_PATH, arguments); }

namespace {

constexpr const char* kRangeLists[] = {"differences", "below_bios_region", "masked_differences"};

// Catches a document of another version, a range whose place is not in the
// table, a place no range uses (the table written from the wrong list) and
// one written twice (the table growing with the ranges).
void CheckPlaces(const nlohmann::json& report) {
  EXPECT_EQ(report["format"], 2);
  ASSERT_TRUE(report.contains("places") && report["places"].is_array());
  const nlohmann::json& places = report["places"];
  std::vector<bool> used(places.size(), false);
  auto use = [&](const nlohmann::json& index) {
    ASSERT_TRUE(index.is_number_unsigned() && index.get<size_t>() < places.size()) << index;
    used[index.get<size_t>()] = true;
  };
  for (const char* list : kRangeLists) {
    if (report.contains(list) && report[list].is_array())
      for (const nlohmann::json& range : report[list]) use(range["place"]);
    const std::string spans = std::string(list) + "_spans";
    if (report.contains(spans))
      for (const nlohmann::json& index : report[spans]["exact_place"]) use(index);
  }
  std::set<std::string> seen;
  for (size_t index = 0; index < places.size(); ++index) {
    EXPECT_TRUE(used[index]) << "place " << index << " is used by no range";
    EXPECT_TRUE(seen.insert(places[index].dump()).second) << "place " << index << " is in the table twice";
    EXPECT_TRUE(places[index].contains("kind")) << places[index];
  }
}

}  // namespace

nlohmann::json DiffJson(const std::filesystem::path& main, const std::filesystem::path& backup,
                        std::vector<std::string> options) {
  options.insert(options.begin(), "--json");
  options.push_back(main.string());
  options.push_back(backup.string());
  const ProgramRun run = RunDiff(options);
  EXPECT_TRUE(run.status == 0 || run.status == 1) << run.status << " " << run.err;
  EXPECT_EQ(run.err, "");
  nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  EXPECT_FALSE(report.is_discarded()) << run.out;
  // The exit status follows the verdict, as cmp's follows its answer.
  if (!report.is_discarded()) {
    EXPECT_EQ(run.status, report["verdict"]["result"] == "PASS" ? 0 : 1);
    CheckPlaces(report);
  }
  return report;
}

nlohmann::json Placed(const nlohmann::json& report) {
  nlohmann::json placed = report;
  for (const char* list : kRangeLists) {
    if (!placed.contains(list) || !placed[list].is_array()) continue;
    for (nlohmann::json& range : placed[list]) {
      const nlohmann::json place = report["places"].at(range["place"].get<size_t>());
      for (const auto& [key, value] : place.items()) range[key] = value;
    }
  }
  return placed;
}

BoardVerdict RunBoardComparison(const std::filesystem::path& main, const std::filesystem::path& backup,
                                uint64_t biosSize, uint32_t blockSize) {
  TempDir scratch;
  nlohmann::json chips;
  for (const auto& [role, path] : {std::pair{"main", main}, std::pair{"backup", backup}})
    chips[role] = {
        {"image", std::filesystem::absolute(path).string()}, {"bios_size", biosSize}, {"block_size", blockSize}};
  const std::filesystem::path board = scratch.path() / "board.json";
  std::ofstream(board) << nlohmann::json{{"chips", chips}}.dump();
  const ProgramRun run = RunProgram(PELLRIX_SIM_PATH, {"--board", board.string(), "--"});
  BoardVerdict verdict;
  verdict.status = run.status;
  std::smatch match;
  if (std::regex_search(run.out, match, std::regex("FAIL at address 0x([0-9a-f]+)")))
    verdict.address = uint32_t(std::stoul(match[1].str(), nullptr, 16));
  EXPECT_EQ(run.err, "");
  return verdict;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

sim::Guid ProbePart::VolumeName() { return sim::MakeGuid(0x6D1F0C2B, 0x3A44, 0x4E10, {0x9B, 1, 2, 3, 4, 5, 6, 7}); }
sim::Guid ProbePart::DriverName() { return sim::MakeGuid(0x0D1FF001, 0x1234, 0x4321, {0xA0, 9, 8, 7, 6, 5, 4, 3}); }
sim::Guid ProbePart::SerialName() { return sim::MakeGuid(0x5E71A100, 0x0042, 0x4A11, {0x81, 1, 1, 2, 3, 5, 8, 13}); }

sim::DescriptorSpec ProbeDescriptor() {
  sim::DescriptorSpec descriptor;
  descriptor.flash_size = ProbePart::kFlashSize;
  descriptor.bios_size = ProbePart::kBiosSize;
  descriptor.model_name = "PELLRIX DIFF PROBE";
  descriptor.checksum_enabled = 0;
  descriptor.areas = {{"$SSN", kSerialBytes, ProbePart::SerialName()}};
  return descriptor;
}

ProbePart BuildProbePart(const sim::DescriptorSpec& descriptor, uint32_t serialSeed, const std::string& variableValue,
                         const std::vector<sim::Bytes>& moreFiles) {
  sim::FileSpec serial;
  serial.name = ProbePart::SerialName();
  serial.type = sim::kFileTypeRaw;
  serial.body = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(kSerialBytes, serialSeed));
  sim::FileSpec driver;
  driver.name = ProbePart::DriverName();
  // A changed byte in a checksummed file of the descriptor's volume would
  // hide the descriptor from the locator: keep the driver a plain difference.
  driver.checksummed = false;
  driver.body = sim::Section(kSectionUserInterface, Utf16("DiffProbe"));
  const sim::Bytes data = sim::Section(sim::kSectionRaw, sim::PseudoRandomBytes(0x800, 3));
  driver.body.insert(driver.body.end(), data.begin(), data.end());

  sim::VolumeSpec volume;
  volume.length = ProbePart::kVolumeLength;
  volume.ext_name = ProbePart::VolumeName();
  volume.files = {sim::BuildDescriptorFile(descriptor), sim::BuildFile(serial), sim::BuildFile(driver)};
  volume.files.insert(volume.files.end(), moreFiles.begin(), moreFiles.end());
  std::vector<size_t> offsets;
  const sim::Bytes volumeBytes = sim::BuildVolume(volume, &offsets);

  ProbePart part;
  part.descriptor = uint32_t(ProbePart::kVolume + offsets[0] + sim::kDescriptorInFile);
  part.serialBody = uint32_t(ProbePart::kVolume + offsets[1] + 28);
  part.driver = uint32_t(ProbePart::kVolume + offsets[2]);
  part.driverData = part.driver + uint32_t(volume.files[2].size()) - 0x100;
  part.freeSpace = uint32_t(ProbePart::kVolume + offsets.back() + volume.files.back().size());
  const sim::Bytes region = sim::BuildBiosRegion(
      ProbePart::kBiosSize, {{0, sim::BuildVariableStoreVolume(ProbePart::kStoreLength, {{"Boot", variableValue}})},
                             {2 * ProbePart::kStoreLength, volumeBytes}});
  part.bytes = sim::BuildFlashPart(ProbePart::kFlashSize, region);
  return part;
}

}  // namespace support
