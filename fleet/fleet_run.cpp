// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/fleet_run.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "fleet/input_walk.h"
#include "fleet/progress_line.h"
#include "fleet/work_pool.h"

namespace fleet {

void MeasureInputs(const std::vector<std::string>& inputs, const FleetContext& context, const RunSettings& settings,
                   const std::function<void(const BoardRecord&)>& done) {
  std::mutex doneLock;
  ProgressLine progress;
  uint64_t finished = 0;
  std::atomic<uint64_t> walked{0};
  std::atomic<bool> walkEnded{false};
  const auto hand = [&](const BoardRecord& record) {
    std::lock_guard<std::mutex> hold(doneLock);
    done(record);
    ++finished;
    if (settings.progress) progress.Done(finished, walked.load(), walkEnded.load());
  };
  const uint32_t workers = settings.jobs ? settings.jobs : std::max(1u, std::thread::hardware_concurrency());
  {
    // Two boards waiting per worker keep them busy; no more are held.
    WorkPool<BoardInput> pool(workers, 2 * workers, [&](BoardInput&& input) { hand(CheckBoard(input, context)); });
    InputWalk walk(
        [&](BoardInput&& input) {
          ++walked;
          pool.Push(std::move(input));
        },
        [&](const std::string& path, const std::string& reason) {
          ++walked;
          hand(TroubleRecord(path, reason, context.golden->sha256));
        });
    for (const std::string& input : inputs) walk.Walk(input);
    walkEnded = true;
    pool.Finish();
  }
  progress.End();
}

}  // namespace fleet
