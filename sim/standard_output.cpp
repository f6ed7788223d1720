// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// True when `descriptor` was closed and now holds /dev/null.
bool OccupyIfClosed(int descriptor) {
  if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return false;
  int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  if (opened >= 0 && opened != descriptor) {
    dup2(opened, descriptor);
    close(opened);
  }
  return true;
}

}  // namespace

StandardOutput::StandardOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  OccupyIfClosed(STDIN_FILENO);
  was_closed_ = OccupyIfClosed(STDOUT_FILENO);
  OccupyIfClosed(STDERR_FILENO);
}

void StandardOutput::Write(const char* text, size_t length) {
  if (error_ != 0) return;  // already lost; later text would fail the same way
  errno = 0;
  if (fwrite_unlocked(text, 1, length, stdout) != length || ferror_unlocked(stdout)) error_ = errno != 0 ? errno : EIO;
}

std::string StandardOutput::Finish() {
  errno = 0;
  bool failedBefore = std::ferror(stdout) != 0;
  bool closed = std::fclose(stdout) == 0;
  if ((failedBefore || !closed) && error_ == 0) error_ = errno != 0 ? errno : EIO;
  if (was_closed_) return "standard output is closed: the utility's output was lost";
  if (error_ != 0)
    return std::string("standard output: cannot write the utility's output (") + std::strerror(error_) + ")";
  return "";
}

}  // namespace sim
