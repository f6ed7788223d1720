// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace fleet {

ProgressLine::ProgressLine() : shown_(isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}

void ProgressLine::Done(uint64_t done, uint64_t total, bool totalKnown) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  // Redrawn a few times a second at most: a terminal is slow.
  if (drawn_ && now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  drawn_ = true;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? double(done) / seconds : 0;
  if (totalKnown && rate > 0 && total >= done)
    std::fprintf(stderr, "\r\033[K%llu of %llu boards, %.1f/s, %.0f s left", (unsigned long long)done,
                 (unsigned long long)total, rate, double(total - done) / rate);
  else
    std::fprintf(stderr, "\r\033[K%llu boards, %.1f/s", (unsigned long long)done, rate);
  std::fflush(stderr);
}

void ProgressLine::End() {
  if (shown_ && drawn_) std::fprintf(stderr, "\r\033[K");
}

}  // namespace fleet
