// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/report_file.h"

#include <nlohmann/json.hpp>

namespace sim {

std::string ReportJson(const Report& report) {
  nlohmann::json msrWrites = nlohmann::json::array();
  for (const auto& [index, value] : report.msr_writes) msrWrites.push_back({index, value});
  nlohmann::json root = {
      {"exit_status", report.exit_status},
      {"active_chip", report.active_chip},
      {"switch_requests", report.switch_requests},
      {"stalls_us", report.stalls_us},
      {"smi",
       {{"query", report.smi.query},
        {"read_block", report.smi.read_block},
        {"begin_read", report.smi.begin_read},
        {"end_read", report.smi.end_read}}},
      {"msr_writes", msrWrites},
      {"cr3_reloads", report.cr3_reloads},
      {"cache_flushes", report.cache_flushes},
      {"pool_outstanding", report.pool_outstanding},
      {"cursor_visible", report.cursor_visible},
      {"files", report.files},
      {"cpu_faults", report.cpu_faults},
      {"mmio_reads", report.mmio_reads},
      {"dma_faults", report.dma_faults},
  };
  return root.dump(2) + "\n";
}

}  // namespace sim
