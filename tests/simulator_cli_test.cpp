// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-sim as scripts drive it: the command line, board files, the report.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "sim/board_file.h"
#include "tests/support/sim_support.h"
#include "tests/support/simulator_process.h"

using support::Banner;
using support::RunSimulator;
using support::TempDir;

namespace {

using Outcome = support::SimOutcome;

void WriteText(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

TEST(SimulatorCli, SampleBoardRunsWithoutOptions) {
  Outcome position = RunSimulator({"/p"});
  EXPECT_EQ(position.out, Banner() + "Current BIOS position: MAIN\n");
  EXPECT_EQ(position.status, 145);
  EXPECT_EQ(position.err, "");

  Outcome compare = RunSimulator({});
  EXPECT_EQ(compare.status, 128);
  EXPECT_EQ(compare.out.substr(compare.out.size() - 35), "\nPellgard comparison test PASS !!!\n");
}

TEST(SimulatorCli, ArgumentsAfterTheSeparatorBelongToTheUtility) {
  Outcome run = RunSimulator({"--", "--help"});
  EXPECT_EQ(run.status, 131);
  EXPECT_NE(run.out.find("Invalid command!\n\n"), std::string::npos);
  Outcome help = RunSimulator({"--help", "--"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--write-sample DIR"), std::string::npos);

  // Without '--', exactly "--help", "--version" or "--write-sample DIR" is
  // the simulator's; after it, "--version" is the utility's bad command.
  EXPECT_EQ(RunSimulator({"--help"}).out, help.out);
  EXPECT_EQ(RunSimulator({"--version"}).out.rfind("pellrix-sim ", 0), 0u);
  EXPECT_EQ(RunSimulator({"--", "--version"}).status, 131);
  EXPECT_EQ(RunSimulator({"--help", "/p"}).status, 131);
  TempDir scratch;
  EXPECT_EQ(RunSimulator({"--write-sample", scratch.str()}).status, 0);
  EXPECT_TRUE(std::filesystem::exists(scratch.path() / "board.json"));
}

TEST(SimulatorCli, BadOptionsAreRefusedWithOneLine) {
  TempDir scratch;
  struct Case {
    std::vector<std::string> words;
    std::string mentions;
  };
  for (const Case& c : {Case{{"--bogus", "--", "/p"}, "--bogus"}, Case{{"--board", "--", "/p"}, "--board"},
                        Case{{"--board", "b.json", "--main", "m.rom", "--"}, "--main"},
                        Case{{"--main", (scratch.path() / "missing.rom").string(), "--"}, "missing.rom"}}) {
    Outcome run = RunSimulator(c.words);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
  }
}

TEST(SimulatorCli, BoardFileErrorsNameTheFileAndTheKey) {
  TempDir scratch;
  struct Case {
    std::string json;
    std::string key;
  };
  for (const Case& c :
       {Case{R"({"activ": "main"})", "'activ'"}, Case{R"({"switch": "sideways"})", "'switch'"},
        Case{R"({"smi_port": 70000})", "'smi_port'"}, Case{R"({"smi_port": "0xZZ"})", "'smi_port'"},
        Case{R"({"smi_port": "0x10000000000000000"})", "'smi_port'"},
        Case{R"({"chips": {"main": {"image": "nope.rom"}}})", "'chips.main.image'"},
        Case{R"({"chips": {"backup": {"image": "small.rom", "flash_size": 8192}}})", "'chips.backup.flash_size'"},
        Case{R"({"chips": {"main": {"part_name": ")" + std::string(49, 'x') + R"("}}})", "'chips.main.part_name'"},
        Case{R"({"pci": [{"vendor": -1}]})", "'pci[0].vendor'"},
        Case{R"({"mtrr": {"pairs": {"x": {}}}})", "'mtrr.pairs.x'"}, Case{R"({"fail_alloc": [0]})", "'fail_alloc[0]'"},
        Case{"{ not json", "not valid JSON"}}) {
    std::filesystem::path file = scratch.path() / "board.json";
    WriteText(scratch.path() / "small.rom", std::string(4096, '\xFF'));
    WriteText(file, c.json);
    Outcome run = RunSimulator({"--board", file.string(), "--", "/p"});
    EXPECT_EQ(run.status, 2) << c.json;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(file.string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.key), std::string::npos) << run.err;
  }
}

TEST(SimulatorCli, BoardKeysReachTheBoard) {
  TempDir scratch;
  std::vector<uint8_t> image(0x20000, 0x11);
  std::ofstream(scratch.path() / "m.rom", std::ios::binary).write(reinterpret_cast<char*>(image.data()), image.size());
  WriteText(scratch.path() / "board.json", R"({
    "active": "backup", "chip_select": "present", "switch": "ignore-main", "mailbox": "qv1",
    "acpi": "present", "smi_port": "0xB0", "fail_file": "close", "fail_alloc": [5, 7],
    "pci": [{"vendor": 4130, "class": 6, "subclass": 0}],
    "mtrr": {"variable_pairs": 8, "phys_address_bits": 40, "pairs": {"3": {"base": "0xFF000005", "mask": 1}}},
    "chips": {"main": {"image": "m.rom", "bios_size": "0x10000", "block_size": 8192, "part_name": "MX25L"},
              "backup": {"flash_size": 65536}}})");
  sim::Board board;
  sim::BoardError error;
  ASSERT_TRUE(sim::LoadBoardFile((scratch.path() / "board.json").string(), &board, &error)) << error.message;
  EXPECT_EQ(board.active, 1);
  EXPECT_EQ(board.switch_mode, sim::SwitchMode::IgnoreMain);
  EXPECT_EQ(board.mailbox, sim::MailboxMode::Qv1);
  EXPECT_EQ(board.smi_port, 0xB0);
  EXPECT_EQ(board.fail_file, sim::FileFailure::Close);
  EXPECT_EQ(board.fail_alloc, (std::vector<uint64_t>{5, 7}));
  ASSERT_EQ(board.pci.size(), 1u);
  EXPECT_EQ(board.pci[0].vendor, 4130);
  EXPECT_EQ(board.mtrr_variable_pairs, 8u);
  EXPECT_EQ(board.phys_address_bits, 40u);
  ASSERT_EQ(board.mtrr_pairs.size(), 1u);
  EXPECT_EQ(board.mtrr_pairs.at(3).base, 0xFF000005u);
  EXPECT_EQ(std::vector<uint8_t>(board.main.data(), board.main.data() + board.main.size()), image);
  EXPECT_EQ(board.main.flash_size, 0x20000u);
  EXPECT_EQ(board.main.bios_size, 0x10000u);
  EXPECT_EQ(board.main.block_size, 8192u);
  EXPECT_EQ(board.main.part_name, "MX25L");
  // A chip without an image is an erased part of its size.
  EXPECT_EQ(board.backup.flash_size, 65536u);
  EXPECT_EQ(board.backup.bios_size, 65536u);

  WriteText(scratch.path() / "raw.json", R"({"active": 5})");
  ASSERT_TRUE(sim::LoadBoardFile((scratch.path() / "raw.json").string(), &board, &error));
  EXPECT_EQ(board.active, 5);
  // Without chips, both are the sample chip.
  EXPECT_EQ(board.main.image, board.backup.image);
  EXPECT_EQ(board.main.image.size(), 0x1000000u);

  // As every integer key, a hexadecimal string.
  for (auto [text, raw] : {std::pair{"0x1", 1}, std::pair{"0XfF", 255}}) {
    WriteText(scratch.path() / "hex.json", std::string(R"({"active": ")") + text + "\"}");
    ASSERT_TRUE(sim::LoadBoardFile((scratch.path() / "hex.json").string(), &board, &error)) << error.message;
    EXPECT_EQ(board.active, raw) << text;
  }
  WriteText(scratch.path() / "hex.json", R"({"active": "0x100"})");
  EXPECT_FALSE(sim::LoadBoardFile((scratch.path() / "hex.json").string(), &board, &error));
}

TEST(SimulatorCli, WrittenSampleBoardRunsTheSameAndSavesItsChip) {
  TempDir scratch;
  std::string sample = (scratch.path() / "sample").string();
  ASSERT_EQ(RunSimulator({"--write-sample", sample, "--"}).status, 0);
  for (const char* name : {"board.json", "main.rom", "backup.rom"})
    EXPECT_TRUE(std::filesystem::exists(scratch.path() / "sample" / name)) << name;

  std::string report = (scratch.path() / "report.json").string();
  Outcome save =
      RunSimulator({"--board", sample + "/board.json", "--dir", scratch.str(), "--report", report, "--", "/s", "2"});
  EXPECT_EQ(save.status, 128);
  EXPECT_EQ(support::ReadFileBytes(scratch.path() / "BACKUP.BIN"),
            support::ReadFileBytes(scratch.path() / "sample" / "backup.rom"));
  nlohmann::json parsed = nlohmann::json::parse(std::ifstream(report));
  EXPECT_EQ(parsed["exit_status"], 128);
  EXPECT_EQ(parsed["active_chip"], 0);
  EXPECT_EQ(parsed["switch_requests"], nlohmann::json::array({1, 0}));
  EXPECT_EQ(parsed["files"], nlohmann::json::array({"BACKUP.BIN"}));
  EXPECT_EQ(parsed["pool_outstanding"], 0);
  EXPECT_EQ(parsed["cursor_visible"], true);
  EXPECT_EQ(parsed["smi"]["read_block"], 2048);
  EXPECT_EQ(parsed["smi"]["begin_read"], 2048);
  EXPECT_EQ(parsed["msr_writes"], nlohmann::json::parse("[[530, 4278190080], [531, 549739038720]]"));
  EXPECT_EQ(parsed["cr3_reloads"], 1);
  EXPECT_TRUE(parsed["stalls_us"].empty());

  Outcome compare = RunSimulator({"--main", sample + "/main.rom", "--backup", sample + "/backup.rom", "--", "/i"});
  EXPECT_EQ(compare.status, 128);
}

}  // namespace
