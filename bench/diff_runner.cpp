// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "bench/diff_runner.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace bench {

std::filesystem::path ScratchDir(const std::string& name) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(path);
  return path;
}

std::string WriteInput(const std::filesystem::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path path = dir / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path.string();
}

std::string DiffPath() {
  const char* path = std::getenv("PELLRIX_DIFF");
  return path != nullptr ? path : PELLRIX_DIFF_PATH;
}

Run RunCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) std::abort();
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), usage.ru_maxrss / 1024.0,
          seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

}  // namespace bench
