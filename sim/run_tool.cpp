// SPDX-License-Identifier: BSD-2-Clause-Patent
// Running the utility on a simulated machine: the one place where the
// simulator reaches up to the program it hosts.
#include <filesystem>

#include "app/main.h"
#include "firmware/tool_state.h"
#include "sim/machine.h"
#include "sim/machine_impl.h"

namespace sim {

RunResult RunTool(Machine& machine, const std::vector<std::string>& arguments) {
  ResetToolState();
  std::vector<std::string> storage;
  storage.push_back("pellrix");
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  size_t consoleStart = machine.console().size();
  int status = pellrix::main(static_cast<int>(storage.size()), argv.data());

  Report& report = machine.report();
  report.exit_status = static_cast<uint32_t>(status);
  report.active_chip = machine.active_raw();
  report.pool_outstanding = machine.impl().pool.live_blocks() + machine.impl().pages.live_blocks();
  // Only the files that are still there: a temporary file removed again, or
  // one renamed away, is not part of the outcome.
  report.files.clear();
  for (const std::string& name : machine.impl().files) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(machine.directory()) / name, error)) report.files.push_back(name);
  }
  return RunResult{status, machine.console().substr(consoleStart), report};
}

RunResult RunOnBoard(const Board& board, const std::vector<std::string>& arguments, const std::string& directory) {
  Machine machine(board, directory);
  return RunTool(machine, arguments);
}

}  // namespace sim
