// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {

bool Fail(const std::string& path, const std::string& what, std::string* problem) {
  *problem = path + ": " + what;
  return false;
}

bool FailWithErrno(const std::string& path, const char* action, std::string* problem) {
  return Fail(path, std::string(action) + " (" + std::strerror(errno) + ")", problem);
}

// Closes `descriptor` keeping the errno of the failure that came before.
void CloseQuietly(int descriptor) {
  int saved = errno;
  close(descriptor);
  errno = saved;
}

}  // namespace

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* text, std::string* problem) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return FailWithErrno(path, "cannot open", problem);
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    CloseQuietly(descriptor);
    return FailWithErrno(path, "cannot open", problem);
  }
  if (S_ISDIR(status.st_mode)) {
    close(descriptor);
    return Fail(path, "is a directory, not a file", problem);
  }
  text->clear();
  char buffer[65536];
  for (;;) {
    ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      CloseQuietly(descriptor);
      return FailWithErrno(path, "cannot read", problem);
    }
    if (count == 0) break;
    if (text->size() + static_cast<size_t>(count) > maxBytes) {
      close(descriptor);
      return Fail(path, "longer than " + std::to_string(maxBytes) + " bytes", problem);
    }
    text->append(buffer, static_cast<size_t>(count));
  }
  close(descriptor);
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string* problem) {
  int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) return FailWithErrno(path, "cannot create", problem);
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t count = write(descriptor, bytes + done, size - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count == 0) errno = ENOSPC;
      CloseQuietly(descriptor);
      return FailWithErrno(path, "cannot write", problem);
    }
    done += static_cast<size_t>(count);
  }
  if (close(descriptor) != 0) return FailWithErrno(path, "cannot write", problem);
  return true;
}

}  // namespace sim
