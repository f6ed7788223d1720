#include "diff/dump_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace pdiff {

bool ReadDumpFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *problem = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *problem = "not a regular file";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = std::strerror(errno);
    return false;
  }
  bytes->resize(static_cast<size_t>(info.st_size));
  const size_t got = std::fread(bytes->data(), 1, bytes->size(), file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || got != bytes->size()) {
    *problem = "read error";
    return false;
  }
  if (bytes->empty()) {
    *problem = "empty file";
    return false;
  }
  return true;
}

}  // namespace pdiff
