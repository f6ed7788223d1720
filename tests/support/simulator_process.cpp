// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "tests/support/simulator_process.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/sim_support.h"

extern char** environ;

namespace support {

namespace {

// A process that has not finished after this long is hung: it is killed and
// the run reported as failed, so that a regression cannot stall the suite.
constexpr int kHangGuardMs = 120'000;

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
      read = ends[0];
      write = ends[1];
    }
  }
};

void CloseIfOpen(int& descriptor) {
  if (descriptor >= 0) close(descriptor);
  descriptor = -1;
}

// Reads both pipes to their ends; false when the hang guard ran out.
bool Drain(int outRead, int errRead, std::string* out, std::string* err) {
  pollfd fds[2] = {{outRead, POLLIN, 0}, {errRead, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = (outRead >= 0) + (errRead >= 0);
  while (open > 0) {
    int ready = poll(fds, 2, kHangGuardMs);
    if (ready <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
      if (count > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(count));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return true;
}

// The process is started with this process's memory until it executes
// pellrix-sim, and its peak memory counts from that peak: give freed heap
// back and reset the peak to what is in use now, so the child's figure is
// its own.
void ResetPeakMemory() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace

SimOutcome RunSimulator(const std::vector<std::string>& words, SimStdout stdoutTo, int inheritedDescriptor) {
  ResetPeakMemory();
  Pipe out;
  Pipe err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  switch (stdoutTo) {
    case SimStdout::Captured:
    case SimStdout::BrokenPipe: posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO); break;
    case SimStdout::FullDevice:
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
      break;
    case SimStdout::Closed: posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO); break;
  }
  posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
  if (stdoutTo == SimStdout::BrokenPipe) CloseIfOpen(out.read);

  std::vector<std::string> storage = {PELLRIX_SIM_PATH};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (auto& word : storage) argv.push_back(word.data());
  argv.push_back(nullptr);

  // As a shell starts it: whatever this process ignores, SIGPIPE is at its default.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  SimOutcome outcome;
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, PELLRIX_SIM_PATH, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  CloseIfOpen(out.write);
  CloseIfOpen(err.write);
  if (inheritedDescriptor >= 0) close(inheritedDescriptor);
  if (spawned != 0) {
    outcome.err = "cannot start pellrix-sim";
    return outcome;
  }
  if (!Drain(out.read, err.read, &outcome.out, &outcome.err)) {
    kill(pid, SIGKILL);
    outcome.err += "[pellrix-sim hung and was killed]";
  }
  CloseIfOpen(out.read);
  CloseIfOpen(err.read);
  int raw = 0;
  rusage usage{};
  wait4(pid, &raw, 0, &usage);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  outcome.max_rss_kib = usage.ru_maxrss;
  return outcome;
}

std::map<std::string, std::string> SnapshotTree(const std::filesystem::path& directory) {
  constexpr uintmax_t kLargestCompared = 64u << 20;
  std::map<std::string, std::string> snapshot;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    struct stat status {};
    lstat(entry.path().c_str(), &status);
    std::string state = std::to_string(status.st_mode) + " " + std::to_string(status.st_size) + " " +
                        std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
    if (S_ISREG(status.st_mode) && static_cast<uintmax_t>(status.st_size) <= kLargestCompared) {
      std::vector<uint8_t> bytes = ReadFileBytes(entry.path());
      state += " " + std::string(bytes.begin(), bytes.end());
    }
    snapshot[std::filesystem::relative(entry.path(), directory).string()] = state;
  }
  return snapshot;
}

}  // namespace support
