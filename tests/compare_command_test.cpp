// SPDX-License-Identifier: BSD-2-Clause-Patent
// The comparison test end to end on the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>

#include "sim/board_file.h"
#include "sim/board_model.h"
#include "sim/image_builder.h"
#include "tests/support/identity_boards.h"
#include "tests/support/sim_support.h"
#include "firmware/chip_select_protocol.h"

using support::Banner;
using support::IdentityBoard;
using support::IdentityChip;
using support::IdentityChipSpec;

namespace {

const std::string kCompareCaption = "BIOS Data Compare.............. ";
const std::string kPass = "\nPellgard comparison test PASS !!!\n";
const std::string kFail = "\nPellgard comparison test FAIL !!!\n";

std::string Progress(const std::string& caption, std::vector<int> values) {
  std::string text;
  for (int value : values) text += "\r" + caption + std::to_string(value) + "%";
  return text + "\n";
}

std::string Identity(const std::string& chip, const std::string& dashes, const std::string& partCaption,
                     const std::string& readCaption, const std::vector<int>& progress, const std::string& model,
                     const std::string& partNumber, const std::string& version) {
  std::string text = chip + " BIOS information\n" + dashes + "\n" + partCaption + "SIM25Q128\n";
  if (!readCaption.empty()) text += Progress(readCaption, progress);
  return text + "Model Name..................... " + model + "\n" + "BiosPart Number................ " + partNumber +
         "\n" + "Bios Version................... " + version + "\n\n";
}

std::string MainIdentity(std::vector<int> progress = {25, 50, 75, 100}, bool read = true) {
  return Identity("Main", "---------------------", "Main BIOS Flash Part........... ",
                  read ? "Reading Main BIOS.............. " : "", progress, "PELLRIX REFERENCE BOARD", "PX100A01",
                  "0107");
}

std::string BackupIdentity(std::vector<int> progress = {25, 50, 75, 100}, bool read = true) {
  return Identity("Backup", "-----------------------", "Backup BIOS Flash Part......... ",
                  read ? "Reading Backup BIOS............ " : "", progress, "PELLRIX REFERENCE BOARD", "PX100A01",
                  "0107");
}

const char* const kCheckCaptions[] = {"Flash type check............... ", "Flash physical size check...... ",
                                      "Flash block size check......... ", "BIOS size check................ ",
                                      "BIOS model name check.......... ", "BIOS version check............. ",
                                      "BIOS part number check......... "};

// The seven check lines; `failing` lists the indexes (0-6) that print ERROR.
std::string Checks(std::vector<int> failing = {}) {
  std::string text = "Comparing MAIN & BACKUP BIOS\n----------------------------\n";
  for (int i = 0; i < 7; ++i) {
    bool failed = std::find(failing.begin(), failing.end(), i) != failing.end();
    text += std::string(kCheckCaptions[i]) + (failed ? "ERROR !!!\n" : "OK\n");
  }
  return text;
}

TEST(ComparisonTest, FourEqualBlocksPassByteForByte) {
  sim::RunResult run = sim::RunOnBoard(IdentityBoard(), {});
  std::string compare = "\r" + kCompareCaption + "25% OK" + "\r" + kCompareCaption + "50% OK" + "\r" + kCompareCaption +
                        "75% OK" + "\r" + kCompareCaption + "OK    \n";
  EXPECT_EQ(run.output, Banner() + MainIdentity() + BackupIdentity() + Checks() + compare + kPass);
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(run.report.switch_requests, (std::vector<uint8_t>{1, 0}));
  EXPECT_TRUE(run.report.stalls_us.empty());
  EXPECT_EQ(run.report.active_chip, 0);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
  EXPECT_EQ(run.report.smi.read_block, 0u);  // the BIOS region comes from the window
  EXPECT_EQ(run.report.msr_writes.size(), 2u);
}

TEST(ComparisonTest, LastByteOfABlockOrOfTheRegionIsCompared) {
  const uint32_t regionStart = 0x10000 - 0x4000;
  const struct {
    uint32_t offset;  // in the part
    const char* address;
  } cases[] = {{regionStart + 2 * 4096 - 1, "0xffffd000"}, {0x10000 - 1, "0xfffff000"}};
  for (const auto& c : cases) {
    sim::Board board = IdentityBoard();
    board.backup.image[c.offset] ^= 0x01;
    sim::RunResult run = sim::RunOnBoard(board, {});
    SCOPED_TRACE(c.address);
    EXPECT_NE(run.output.find(std::string("FAIL at address ") + c.address + "\n" + kFail), std::string::npos)
        << run.output;
    EXPECT_EQ(run.exit_status, 142);
  }
}

TEST(ComparisonTest, SimpleTestFindsADescriptorEndingAtFourGiB) {
  // The last position the window search may take: the model name's last byte
  // is the window's last byte.
  constexpr size_t kIdentityBytes = 96;  // up to the end of the model name
  sim::VolumeSpec topPage;
  topPage.length = 0x1000;
  sim::Bytes region = sim::BuildBiosRegion(0x4000, {{0x3000, sim::BuildVolume(topPage)}});
  const sim::Bytes descriptor = sim::BuildDescriptor(IdentityChipSpec::DefaultDescriptor());
  std::copy_n(descriptor.begin(), kIdentityBytes, region.end() - kIdentityBytes);
  sim::Chip chip;
  chip.image = sim::BuildFlashPart(0x10000, region);
  chip.flash_size = 0x10000;
  chip.bios_size = 0x4000;
  sim::Board board;
  board.main = board.backup = chip;
  sim::RunResult run = sim::RunOnBoard(board, {"/i"});
  EXPECT_EQ(run.output, Banner() + MainIdentity({}, false) + BackupIdentity({}, false) + Checks() + kPass);
  EXPECT_EQ(run.exit_status, 128);
}

TEST(ComparisonTest, ThreeBlocksShowThirds) {
  IdentityChipSpec spec;
  spec.bios_size = 0x3000;
  spec.descriptor.bios_size = 0x3000;
  sim::RunResult run = sim::RunOnBoard(IdentityBoard(spec), {});
  EXPECT_EQ(support::ProgressValues(run.output, kCompareCaption), (std::vector<int>{33, 66}));
  EXPECT_NE(run.output.find("\r" + kCompareCaption + "OK    \n" + kPass), std::string::npos);
  EXPECT_EQ(run.exit_status, 128);
}

TEST(ComparisonTest, FirstDifferenceStopsTheCompareWithItsAddress) {
  sim::Board board = IdentityBoard();
  // Flip a byte in block 2 of the Backup chip's BIOS region (and one in block 3,
  // which must never be reached).
  uint32_t regionStart = 0x10000 - 0x4000;
  board.backup.image[regionStart + 2 * 4096 + 100] ^= 0x01;
  board.backup.image[regionStart + 3 * 4096 + 5] ^= 0x01;
  sim::RunResult run = sim::RunOnBoard(board, {});
  std::string compare = "\r" + kCompareCaption + "25% OK" + "\r" + kCompareCaption + "50% OK" +
                        "\rBIOS Data Compare.............. FAIL at address 0xffffe000\n";
  EXPECT_EQ(run.output, Banner() + MainIdentity() + BackupIdentity() + Checks() + compare + kFail);
  EXPECT_EQ(run.exit_status, 142);
  EXPECT_EQ(run.report.active_chip, 0);
}

struct CheckCase {
  const char* name;
  void (*change)(IdentityChipSpec&, sim::Chip&);
  std::vector<int> failing;
  int exitStatus;
};

void ChangePartName(IdentityChipSpec&, sim::Chip& chip) { chip.part_name = "OTHER25Q128"; }
void ChangeFlashSize(IdentityChipSpec& spec, sim::Chip&) { spec.descriptor.flash_size = 0x20000; }
void ChangeBlockSize(IdentityChipSpec& spec, sim::Chip&) { spec.descriptor.block_size = 0x10000; }
void ChangeBiosSize(IdentityChipSpec& spec, sim::Chip&) { spec.descriptor.bios_size = 0x8000; }
void ChangeModel(IdentityChipSpec& spec, sim::Chip&) { spec.descriptor.model_name = "OTHER BOARD"; }
void ChangeVersion(IdentityChipSpec& spec, sim::Chip&) { spec.descriptor.version = "0108"; }
void ChangePartNumber(IdentityChipSpec& spec, sim::Chip&) { spec.descriptor.part_number = "PX100A02"; }
void ChangeModelAndPart(IdentityChipSpec& spec, sim::Chip& chip) {
  ChangeModel(spec, chip);
  chip.part_name = "OTHER25Q128";
}
void ChangeEverything(IdentityChipSpec& spec, sim::Chip& chip) {
  ChangePartName(spec, chip);
  ChangeFlashSize(spec, chip);
  ChangeBlockSize(spec, chip);
  ChangeBiosSize(spec, chip);
  ChangeModel(spec, chip);
  ChangeVersion(spec, chip);
  ChangePartNumber(spec, chip);
}

TEST(ComparisonTest, EachCheckFailsAloneAndTheLastFailureWins) {
  const CheckCase cases[] = {
      {"flash type", ChangePartName, {0}, 136},
      {"flash size", ChangeFlashSize, {1}, 135},
      {"block size", ChangeBlockSize, {2}, 137},
      {"BIOS size", ChangeBiosSize, {3}, 138},
      {"model", ChangeModel, {4}, 139},
      {"version", ChangeVersion, {5}, 140},
      {"part number", ChangePartNumber, {6}, 141},
      {"type and model", ChangeModelAndPart, {0, 4}, 139},
      {"everything", ChangeEverything, {0, 1, 2, 3, 4, 5, 6}, 141},
  };
  for (const CheckCase& c : cases) {
    IdentityChipSpec spec;
    sim::Chip scratch;
    sim::Board board = IdentityBoard(spec);
    c.change(spec, scratch);
    board.backup = IdentityChip(spec);
    if (!scratch.part_name.empty() && scratch.part_name != "SIM25Q128") board.backup.part_name = scratch.part_name;
    sim::RunResult run = sim::RunOnBoard(board, {});
    SCOPED_TRACE(c.name);
    EXPECT_NE(run.output.find(Checks(c.failing) + kFail), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(kCompareCaption), std::string::npos);
    EXPECT_EQ(run.exit_status, c.exitStatus);
    EXPECT_EQ(run.report.pool_outstanding, 0u);
  }
}

TEST(ComparisonTest, ChipWithoutDescriptorPrintsEmptyIdentity) {
  sim::Board board = IdentityBoard();
  board.backup = support::PatternChip(0x10000, 0x4000, 4096, 9);
  sim::RunResult run = sim::RunOnBoard(board, {});
  EXPECT_NE(run.output.find("Model Name..................... \nBiosPart Number................ \n"
                            "Bios Version................... \n"),
            std::string::npos);
  EXPECT_NE(run.output.find(Checks({1, 2, 3, 4, 5, 6}) + kFail), std::string::npos);
  EXPECT_EQ(run.exit_status, 141);
}

TEST(ComparisonTest, BackupActiveAtStartWithDelay) {
  sim::Board board = IdentityBoard();
  board.active = 1;
  sim::RunResult run = sim::RunOnBoard(board, {"/delay", "5"});
  EXPECT_EQ(run.exit_status, 128);
  // To Main, then back to Backup; the restores find Backup already active.
  EXPECT_EQ(run.report.switch_requests, (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(run.report.stalls_us, (std::vector<uint64_t>{500000, 500000}));
  EXPECT_EQ(run.report.active_chip, 1);
}

TEST(ComparisonTest, DelayWaitsOnlyAfterSwitches) {
  sim::RunResult run = sim::RunOnBoard(IdentityBoard(), {"/DELAY", "100"});
  EXPECT_EQ(run.report.stalls_us, (std::vector<uint64_t>{10000000}));
  EXPECT_EQ(run.report.switch_requests, (std::vector<uint8_t>{1, 0}));
}

TEST(ComparisonTest, SwitchFailures) {
  sim::Board board = IdentityBoard();
  board.active = 1;
  board.switch_mode = sim::SwitchMode::IgnoreMain;
  sim::RunResult toMain = sim::RunOnBoard(board, {"/delay", "3"});
  EXPECT_EQ(toMain.output, Banner() + "!! Unable to switch to Main BIOS !!\n" + kFail);
  EXPECT_EQ(toMain.exit_status, 132);
  EXPECT_EQ(toMain.report.stalls_us, (std::vector<uint64_t>{300000}));  // the wait comes before the verdict on it
  EXPECT_EQ(toMain.report.pool_outstanding, 0u);

  board.active = 0;
  board.switch_mode = sim::SwitchMode::IgnoreBackup;
  sim::RunResult toBackup = sim::RunOnBoard(board, {});
  EXPECT_EQ(toBackup.output, Banner() + MainIdentity() + "!! Unable to switch to Backup BIOS !!\n" + kFail);
  EXPECT_EQ(toBackup.exit_status, 132);
  // Main never stopped being active, so the refused request is the only one.
  EXPECT_EQ(toBackup.report.switch_requests, (std::vector<uint8_t>{1}));
}

// A chip select that refuses the first request for Backup and obeys every other.
void EFIAPI FirstBackupRequestRefused(uint8_t chip) {
  static_assert(std::is_same_v<decltype(&FirstBackupRequestRefused), decltype(ChipSelectProtocol::SetActiveChip)>);
  sim::Machine& machine = sim::CurrentMachine();
  if (chip == 1 &&
      std::count(machine.report().switch_requests.begin(), machine.report().switch_requests.end(), 1) == 0) {
    machine.report().switch_requests.push_back(chip);
    return;
  }
  sim::ModelSetActiveChip(machine.model(), chip);
}

TEST(ComparisonTest, StartUpChipIsRestoredWhenTheSwitchBackFails) {
  sim::Board board = IdentityBoard();
  board.active = 1;
  sim::Machine machine(board);
  machine.impl().chip_select.SetActiveChip = FirstBackupRequestRefused;
  sim::RunResult run = sim::RunTool(machine, {});
  EXPECT_EQ(run.output, Banner() + MainIdentity() + "!! Unable to switch to Backup BIOS !!\n" + kFail);
  EXPECT_EQ(run.exit_status, 132);
  // To Main, the refused switch back, then the restore of Backup.
  EXPECT_EQ(run.report.switch_requests, (std::vector<uint8_t>{0, 1, 1}));
  EXPECT_EQ(run.report.active_chip, 1);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

// A chip select whose switch to Backup also silences the mailbox, so the part
// query for Backup gets no answer.
void EFIAPI MailboxLostOnBackup(uint8_t chip) {
  sim::Machine& machine = sim::CurrentMachine();
  if (chip == 1) machine.board().mailbox = sim::MailboxMode::None;
  sim::ModelSetActiveChip(machine.model(), chip);
}

TEST(ComparisonTest, LostPartQueryForBackupShowsNoPartName) {
  sim::Machine machine(IdentityBoard());
  machine.impl().chip_select.SetActiveChip = MailboxLostOnBackup;
  sim::RunResult run = sim::RunTool(machine, {});
  // Main's name must not stand in for Backup's.
  EXPECT_NE(run.output.find("Backup BIOS Flash Part......... \n"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Backup BIOS Flash Part......... SIM25Q128"), std::string::npos);
  EXPECT_NE(run.output.find(Checks({0}) + kFail), std::string::npos) << run.output;
  EXPECT_EQ(run.exit_status, 136);
}

TEST(ComparisonTest, SimpleTestUsesTheWindowOnly) {
  sim::RunResult run = sim::RunOnBoard(IdentityBoard(), {"/i"});
  EXPECT_EQ(run.output, Banner() + MainIdentity({}, false) + BackupIdentity({}, false) + Checks() + kPass);
  EXPECT_EQ(run.exit_status, 128);
  EXPECT_EQ(run.report.smi.read_block, 0u);

  IdentityChipSpec spec;
  spec.descriptor.model_name = "OTHER BOARD";
  spec.descriptor.flash_size = 0x20000;  // sizes are not compared by the simple test
  sim::Board board = IdentityBoard();
  board.backup = IdentityChip(spec);
  board.backup.part_name = "OTHER25Q128";  // nor is the flash part
  sim::RunResult differs = sim::RunOnBoard(board, {"/I"});
  EXPECT_NE(differs.output.find(Checks({4}) + kFail), std::string::npos) << differs.output;
  EXPECT_EQ(differs.exit_status, 139);
}

TEST(ComparisonTest, ZeroFlashSizeFailsAtOnce) {
  sim::Board board = IdentityBoard();
  board.main.flash_size = 0;
  sim::RunResult run = sim::RunOnBoard(board, {});
  EXPECT_EQ(run.output, Banner() + kFail);
  EXPECT_EQ(run.exit_status, 130);
  EXPECT_TRUE(run.report.switch_requests.empty());
}

TEST(ComparisonTest, UnreadableRegionIsAFailureNotAPass) {
  // The mailbox reports a BIOS region of 0: the reader refuses, nothing is read.
  sim::Board board = IdentityBoard();
  board.main.bios_size = 0;
  board.backup.bios_size = 0;
  sim::RunResult run = sim::RunOnBoard(board, {});
  EXPECT_EQ(run.output,
            Banner() +
                Identity("Main", "---------------------", "Main BIOS Flash Part........... ", "", {}, "", "", "") +
                Identity("Backup", "-----------------------", "Backup BIOS Flash Part......... ", "", {}, "", "", "") +
                Checks() + kFail);
  EXPECT_EQ(run.exit_status, 130);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

// A region that is not a whole, non-zero number of blocks cannot be compared
// block by block without leaving bytes out (the top of the region holds the
// reset vector): no data compare, FAIL with 130, and nothing printed for it.
TEST(ComparisonTest, ARegionOfPartBlocksIsNeverPassed) {
  struct Case {
    std::string name;
    uint32_t biosSize;
    uint32_t blockSize;
  };
  for (const Case& geometry :
       {Case{"18 KiB region, 4 KiB blocks", 0x4800, 0x1000}, Case{"region smaller than a block", 0x1000, 0x2000},
        Case{"1 GiB blocks", 0x10000, 0x40000000}, Case{"block size 0", 0x10000, 0}}) {
    SCOPED_TRACE(geometry.name);
    sim::Board board = support::PatternBoard(0x20000, geometry.biosSize, 4096);
    board.backup.image = board.main.image;
    board.backup.image.back() ^= 0xFF;  // the region's last byte, which whole blocks would not reach
    for (sim::Chip* chip : {&board.main, &board.backup}) chip->block_size = geometry.blockSize;
    sim::RunResult run = sim::RunOnBoard(board, {});
    EXPECT_EQ(run.exit_status, 130);
    EXPECT_EQ(run.output.find(kCompareCaption), std::string::npos);
    EXPECT_TRUE(run.output.ends_with(Checks() + kFail)) << run.output;
    EXPECT_EQ(run.report.pool_outstanding, 0u);
    EXPECT_EQ(run.report.dma_faults, 0u);
    EXPECT_EQ(run.report.active_chip, 0);

    // The simple test has no data compare: it does not change.
    sim::RunResult simple = sim::RunOnBoard(board, {"/i"});
    EXPECT_EQ(simple.exit_status, 128);
    EXPECT_TRUE(simple.output.ends_with(kPass));
  }
}

// Only Backup's mailbox reports a zero, and Backup is active at start, so
// the geometry the whole-blocks rule sees is Backup's while Main's is sound:
// either zero alone must stop the compare (a PASS with nothing compared, or
// a division by zero, otherwise).
TEST(ComparisonTest, AZeroInBackupsGeometryAloneIsNeverPassed) {
  for (const char* zero : {"BIOS size", "block size"}) {
    SCOPED_TRACE(zero);
    sim::Board board = IdentityBoard();
    board.active = 1;
    (std::string(zero) == "BIOS size" ? board.backup.bios_size : board.backup.block_size) = 0;
    sim::RunResult run = sim::RunOnBoard(board, {});
    EXPECT_EQ(run.exit_status, 130);
    EXPECT_FALSE(run.output.ends_with(kPass)) << run.output;
    EXPECT_EQ(run.report.active_chip, 1);
    EXPECT_EQ(run.report.pool_outstanding, 0u);
  }
}

TEST(ComparisonTest, AFailingCheckKeepsItsCodeOnARegionOfPartBlocks) {
  sim::Board board = IdentityBoard();
  IdentityChipSpec spec;
  spec.descriptor.model_name = "OTHER MODEL";
  board.backup = IdentityChip(spec);
  for (sim::Chip* chip : {&board.main, &board.backup}) chip->block_size = 0x3000;
  sim::RunResult run = sim::RunOnBoard(board, {});
  EXPECT_EQ(run.exit_status, 139);
  EXPECT_TRUE(run.output.ends_with(Checks({4}) + kFail)) << run.output;
}

TEST(ComparisonTest, AGiBBlockSizeNeedsNoGiBBuffers) {
  // The image buffers hold the region and nothing more, whatever block size
  // the mailbox reports.
  sim::Board board = IdentityBoard();
  for (sim::Chip* chip : {&board.main, &board.backup}) chip->block_size = 0x40000000;
  sim::RunResult run = sim::RunOnBoard(board, {});
  EXPECT_EQ(run.exit_status, 130);
  EXPECT_EQ(run.report.dma_faults, 0u);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

TEST(ComparisonTest, SampleBoardPassesOnlyThroughMasking) {
  sim::Board board = sim::SampleBoard();
  ASSERT_NE(board.main.image, board.backup.image);
  sim::RunResult run = sim::RunOnBoard(board, {});
  EXPECT_EQ(run.exit_status, 128) << run.output.substr(run.output.size() - 300);
  EXPECT_NE(run.output.find(Checks() + "\r" + kCompareCaption + "0% OK"), std::string::npos);
  EXPECT_EQ(run.output.substr(run.output.size() - kPass.size()), kPass);
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

TEST(ComparisonTest, EveryAllocationFailingInTurnIsSurvived) {
  sim::Board board = IdentityBoard();
  board.active = 1;
  sim::RunResult clean = sim::RunOnBoard(board, {});
  ASSERT_EQ(clean.exit_status, 128);
  for (uint64_t ordinal = 1; ordinal <= clean.report.pool_allocations; ++ordinal) {
    board.fail_alloc = {ordinal};
    sim::RunResult run = sim::RunOnBoard(board, {});
    SCOPED_TRACE("allocation " + std::to_string(ordinal));
    EXPECT_EQ(run.report.pool_outstanding, 0u);
    EXPECT_EQ(run.report.active_chip, 1);
    EXPECT_TRUE(run.report.cursor_visible);
    EXPECT_EQ(run.report.dma_faults, 0u);
    // Whatever the outcome, a PASS is printed exactly when the status says so.
    EXPECT_EQ(run.exit_status == 128, run.output.ends_with(kPass)) << run.output;
  }
}

}  // namespace
