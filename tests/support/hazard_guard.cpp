// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/hazard_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/machine.h"

namespace support {
namespace {

bool allowed = false;
std::vector<std::string> offenders;

class HazardListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    allowed = false;
    start_ = sim::ProcessHazardTotals();
  }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    const sim::HazardTotals& now = sim::ProcessHazardTotals();
    uint64_t faults = now.cpu_faults - start_.cpu_faults;
    uint64_t mmio = now.mmio_reads - start_.mmio_reads;
    if (allowed || (faults == 0 && mmio == 0)) return;
    offenders.push_back(std::string(info.test_suite_name()) + "." + info.name() + ": " + std::to_string(faults) +
                        " CPU faults, " + std::to_string(mmio) + " reads below the flash decode");
  }
  sim::HazardTotals start_;
};

// Failures reported by a listener would not reach the test; the environment's
// tear-down fails the run instead.
class HazardEnvironment : public ::testing::Environment {
  void TearDown() override {
    for (const std::string& offender : offenders) ADD_FAILURE() << offender;
  }
};

[[maybe_unused]] const bool registered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new HazardListener);
  ::testing::AddGlobalTestEnvironment(new HazardEnvironment);
  return true;
}();

}  // namespace

void AllowHardwareHazardsInThisTest() { allowed = true; }

}  // namespace support
