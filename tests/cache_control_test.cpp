// SPDX-License-Identifier: BSD-2-Clause-Patent
// The host-bridge probe and the MTRR override of the flash window.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "firmware/cache_control.h"
#include "firmware/tool_state.h"
#include "record/recorder.h"
#include "tests/support/sim_support.h"

namespace {

sim::PciFunction Function(uint16_t vendor, uint8_t baseClass, uint8_t subclass) {
  sim::PciFunction function;
  function.vendor = vendor;
  function.base_class = baseClass;
  function.subclass = subclass;
  return function;
}

EFI_STATUS Probe(const std::vector<sim::PciFunction>& functions, sim::Report* report = nullptr) {
  sim::Board board = support::PatternBoard();
  board.pci = functions;
  sim::Machine machine(board);
  EFI_STATUS status = ProbeHostBridge(0x06, 0x00, 0x8086);
  EXPECT_EQ(machine.impl().pool.live_blocks(), 0u) << "the handle list is released";
  if (report != nullptr) *report = machine.report();
  return status;
}

TEST(HostBridgeProbe, FindsTheFirstIntelHostBridge) {
  EXPECT_EQ(Probe({}), kEfiNotFound);
  EXPECT_EQ(Probe({Function(0x1022, 6, 0)}), kEfiNotFound);
  EXPECT_EQ(Probe({Function(0x8086, 6, 1), Function(0x8086, 3, 0)}), kEfiNotFound);
  EXPECT_EQ(Probe({Function(0x1022, 6, 0), Function(0x8086, 1, 6), Function(0x8086, 6, 0)}), kEfiSuccess);
}

TEST(HostBridgeProbe, FailingReadsSkipOrAreRemembered) {
  sim::PciFunction classFails = Function(0x8086, 6, 0);
  classFails.class_read_fails = true;
  EXPECT_EQ(Probe({classFails}), kEfiNotFound);

  sim::PciFunction vendorFails = Function(0x8086, 6, 0);
  vendorFails.vendor_read_fails = true;
  EXPECT_EQ(Probe({vendorFails}), kEfiDeviceError);
  EXPECT_EQ(Probe({vendorFails, Function(0x8086, 6, 0)}), kEfiSuccess);
  // The status of the last kept handle is what is reported.
  EXPECT_EQ(Probe({vendorFails, Function(0x1022, 6, 0)}), kEfiNotFound);

  sim::PciFunction noInterface = Function(0x8086, 6, 0);
  noInterface.handle_protocol_fails = true;
  EXPECT_EQ(Probe({noInterface}), kEfiNotFound);
}

class FlashWindowOverride : public ::testing::Test {
 protected:
  sim::Report Apply(int times = 1) {
    sim::Machine machine(board_);
    for (int i = 0; i < times; ++i) SetFlashWindowUncached();
    base_ = machine.msr(0x212);
    mask_ = machine.msr(0x213);
    return machine.report();
  }
  sim::Board board_ = support::PatternBoard();
  uint64_t base_ = 0;
  uint64_t mask_ = 0;
};

TEST_F(FlashWindowOverride, WritesPairNineAndFlushes) {
  sim::Report report = Apply();
  ASSERT_EQ(report.msr_writes.size(), 2u);
  EXPECT_EQ(report.msr_writes[0], (std::pair<uint32_t, uint64_t>{0x212, 0xFF000000}));
  EXPECT_EQ(report.msr_writes[1], (std::pair<uint32_t, uint64_t>{0x213, 0x7FFF000800}));
  EXPECT_EQ(report.cr3_reloads, 1u);
  EXPECT_EQ(report.cache_flushes, 1u);
  EXPECT_EQ(report.cache_flushes_after_cr3, 1u);
  EXPECT_TRUE(report.cpu_faults.empty());
}

TEST_F(FlashWindowOverride, MaskFollowsThePhysicalAddressWidth) {
  for (auto [bits, mask] :
       {std::pair<uint32_t, uint64_t>{39, 0x7FFF000800}, {40, 0xFFFF000800}, {36, 0xFFF000800}, {46, 0x3FFFFF000800}}) {
    board_.phys_address_bits = bits;
    sim::Report report = Apply();
    EXPECT_EQ(mask_, mask) << bits;
    EXPECT_TRUE(report.cpu_faults.empty()) << bits;
  }
}

TEST_F(FlashWindowOverride, RefusesWithoutAWriteProtectedRange) {
  board_.mtrr_pairs = {{1, {0xFF000006, 0x7FFF000800}}};
  EXPECT_TRUE(Apply().msr_writes.empty());
  // Pair 9 is not part of the scan.
  board_.mtrr_pairs = {{9, {0xFF000005, 0x7FFF000800}}};
  EXPECT_TRUE(Apply().msr_writes.empty());
  // The write-protected range may sit in any of pairs 0 to 8.
  board_.mtrr_pairs = {{8, {0xFFC00005, 0x7FFFC00800}}};
  EXPECT_EQ(Apply().msr_writes.size(), 2u);
}

TEST_F(FlashWindowOverride, RefusesWhenPairNineIsInUse) {
  board_.mtrr_pairs = {{0, {0xFF000005, 0x7FFF000800}}, {9, {0x1, 0}}};
  EXPECT_TRUE(Apply().msr_writes.empty());
  board_.mtrr_pairs = {{0, {0xFF000005, 0x7FFF000800}}, {9, {0, 0x800}}};
  EXPECT_TRUE(Apply().msr_writes.empty());
  // Only the low halves are examined.
  board_.mtrr_pairs = {{0, {0xFF000005, 0x7FFF000800}}, {9, {0x100000000ull, 0x100000000ull}}};
  EXPECT_EQ(Apply().msr_writes.size(), 2u);
}

TEST_F(FlashWindowOverride, ASecondCallChangesNothing) {
  sim::Report report = Apply(2);
  EXPECT_EQ(report.msr_writes.size(), 2u);
  EXPECT_EQ(report.cr3_reloads, 1u);
}

TEST_F(FlashWindowOverride, ProcessorsWithFewerPairsAreLeftAlone) {
  board_.mtrr_variable_pairs = 8;
  sim::Report report = Apply();
  EXPECT_TRUE(report.msr_writes.empty());
  EXPECT_TRUE(report.cpu_faults.empty());
  EXPECT_EQ(report.cr3_reloads, 0u);
}

// Every road that may write pair 9 flushes the caches exactly once, right
// after the CR3 reload that follows the write, and never without the write.
TEST(FlashWindowOverrideGuard, CachesAreFlushedOncePerOverrideOnEveryRoad) {
  struct Road {
    std::string name;
    std::vector<std::string> arguments;  // empty name of the recorder: run it instead
  };
  const std::vector<Road> roads = {{"compare", {}},         {"save main", {"/s", "1"}}, {"save backup", {"/s", "2"}},
                                   {"change", {"/c", "2"}}, {"recorder", {}},           {"position", {"/p"}},
                                   {"simple test", {"/i"}}};
  struct Setting {
    std::string name;
    std::function<void(sim::Board&)> apply;
    bool overrides;
  };
  const std::vector<Setting> settings = {
      {"free pair 9", [](sim::Board&) {}, true},
      {"pair 9 in use",
       [](sim::Board& b) {
         b.mtrr_pairs[9] = {0x1, 0};
       },
       false},
      {"no Intel host bridge", [](sim::Board& b) { b.pci = {Function(0x1022, 6, 0)}; }, false},
  };
  for (const Road& road : roads) {
    for (const Setting& setting : settings) {
      SCOPED_TRACE(road.name + ", " + setting.name);
      support::TempDir dir;
      sim::Board board = support::PatternBoard();
      setting.apply(board);
      sim::Report report;
      if (road.name == "recorder") {
        sim::Machine machine(board, dir.str());
        ResetToolState();
        char name[] = "pellrix-record";
        char* argv[] = {name, nullptr};
        EXPECT_EQ(RecordBoardMain(1, argv), 128);
        report = machine.report();
      } else {
        report = sim::RunOnBoard(board, road.arguments, dir.str()).report;
      }
      // The position report never touches the MTRRs.
      bool expected = setting.overrides && road.name != "position";
      size_t pairNineWrites = std::count_if(report.msr_writes.begin(), report.msr_writes.end(),
                                            [](const auto& write) { return write.first == 0x212; });
      EXPECT_EQ(pairNineWrites, expected ? 1u : 0u);
      EXPECT_EQ(report.cache_flushes, expected ? 1u : 0u);
      EXPECT_EQ(report.cache_flushes_after_cr3, report.cache_flushes);
    }
  }
}

TEST(FlashWindowOverrideGuard, OnlyWithAnIntelHostBridge) {
  sim::Board board = support::PatternBoard();
  board.pci = {Function(0x1022, 6, 0)};
  sim::RunResult run = sim::RunOnBoard(board, {"/c", "2"});
  EXPECT_EQ(run.exit_status, 146);
  EXPECT_TRUE(run.report.msr_writes.empty());
  EXPECT_EQ(run.report.pool_outstanding, 0u);
}

}  // namespace
