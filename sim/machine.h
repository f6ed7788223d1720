// SPDX-License-Identifier: BSD-2-Clause-Patent
// The simulated machine: firmware tables, protocols, SMI handler, MSRs and the
// flash window of one Board. Constructing a Machine installs it as what the
// program code sees (gST, gBS and the CPU layer); destroying it uninstalls it.
// One Machine exists at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/board_model.h"

namespace sim {

// What the run report says, plus counters that only tests read. The board
// model's own events (SMIs and the like) are part of it.
struct Report : BoardEvents {
  uint32_t exit_status = 0;
  uint8_t active_chip = 0;
  std::vector<uint8_t> switch_requests;
  std::vector<uint64_t> stalls_us;
  std::vector<std::pair<uint32_t, uint64_t>> msr_writes;
  uint64_t cr3_reloads = 0;
  uint64_t cache_flushes = 0;  // WBINVD
  uint64_t pool_outstanding = 0;
  bool cursor_visible = true;
  std::vector<std::string> files;
  // Accesses a real processor would fault on, each named ("wrmsr 0x213: ...").
  std::vector<std::string> cpu_faults;
  // Flash-window reads that touched an address below 0xFF000000, where real
  // chipsets decode device registers rather than flash.
  uint64_t mmio_reads = 0;
  std::vector<bool> cursor_calls;  // every EnableCursor argument, in order

  // Not in the JSON contract; for tests.
  uint64_t locate_chip_select_calls = 0;
  uint64_t get_acpi_table_calls = 0;
  std::vector<uint64_t> watchdog_timeouts;  // every SetWatchdogTimer timeout, in order
  uint64_t pool_allocations = 0;
  uint64_t cache_flushes_after_cr3 =
      0;  // WBINVDs that came right after a CR3 reload  // program AllocatePool calls, failed ones included
};

class Machine {
 public:
  explicit Machine(Board board, std::string directory = ".");
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Board& board() { return board_; }
  Report& report() { return report_; }
  const std::string& directory() const { return directory_; }

  // Raw position of the chip that answers now (Backup while it is 1).
  uint8_t active_raw() const { return model_.active; }
  void set_active_raw(uint8_t raw) { model_.active = raw; }
  Chip& active_chip() { return model_.active == 1 ? board_.backup : board_.main; }

  // The board model, brought up to date with board() (tests change the
  // board's modes between calls).
  BoardModel& model();

  // Everything the program printed, in order, as UTF-8.
  const std::string& console() const { return console_; }
  // Pass console text to this function as it is printed instead of keeping
  // it (pellrix-sim streams it to standard output).
  void set_console_echo(std::function<void(const char*, size_t)> echo) { echo_ = std::move(echo); }

  uint64_t msr(uint32_t index) const;

  // Implementation state, reached by the simulated firmware and CPU layer.
  struct Impl;
  Impl& impl() { return *impl_; }
  void AppendConsole(const char* text, size_t length);

 private:
  Board board_;
  std::string directory_;
  Report report_;
  BoardModel model_{};
  std::string console_;
  std::function<void(const char*, size_t)> echo_;
  std::unique_ptr<Impl> impl_;
};

// The installed machine; only valid while one exists.
Machine& CurrentMachine();

// Hardware hazards counted over every machine of this process, so a test
// harness can require that none happened anywhere.
struct HazardTotals {
  uint64_t cpu_faults = 0;
  uint64_t mmio_reads = 0;
};
HazardTotals& ProcessHazardTotals();

struct RunResult {
  int exit_status = 0;
  std::string output;
  Report report;
};

// Runs the tool once on `machine` with these utility arguments (argv[1]
// onward) and completes the machine's report.
RunResult RunTool(Machine& machine, const std::vector<std::string>& arguments);

// Convenience for tests: a fresh machine for `board`, one run.
RunResult RunOnBoard(const Board& board, const std::vector<std::string>& arguments, const std::string& directory = ".");

}  // namespace sim
