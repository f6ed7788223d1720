// SPDX-License-Identifier: BSD-2-Clause-Patent
// A progress line on standard error while boards are measured, redrawn in
// place; only when standard error is a terminal, nothing otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace fleet {

class ProgressLine {
 public:
  ProgressLine();
  // A board done; `total` is known once every input has been walked.
  void Done(uint64_t done, uint64_t total, bool totalKnown);
  void End();

 private:
  bool shown_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
  bool drawn_ = false;
};

}  // namespace fleet
