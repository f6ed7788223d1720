// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/image_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

std::shared_ptr<const MappedImage> MapImageFile(const std::string& path, std::string* problem) {
  // O_NONBLOCK: opening a FIFO or a device must not wait for the other side.
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    *problem = "cannot open image file " + path + " (" + std::strerror(errno) + ")";
    return nullptr;
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    *problem = "image file " + path + " is not a regular file";
    return nullptr;
  }
  auto size = static_cast<uint64_t>(status.st_size);
  if (size > kMaxPartSize) {
    close(descriptor);
    *problem = "image file " + path + " is " + std::to_string(size) + " bytes; a flash part is at most " +
               std::to_string(kMaxPartSize);
    return nullptr;
  }
  auto image = std::make_shared<MappedImage>();
  image->path = path;
  if (size != 0) {
    void* bytes = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (bytes == MAP_FAILED) {
      *problem = "cannot map image file " + path + " (" + std::strerror(errno) + ")";
      close(descriptor);
      return nullptr;
    }
    image->bytes = static_cast<const uint8_t*>(bytes);
    image->size = size;
  }
  close(descriptor);
  return image;
}

}  // namespace sim
