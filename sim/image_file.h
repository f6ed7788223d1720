// SPDX-License-Identifier: BSD-2-Clause-Patent
// Chip images on the host: a regular file of at most 4 GiB - 1 bytes, mapped
// rather than read.
#pragma once

#include <memory>
#include <string>

#include "sim/board.h"

namespace sim {

// Null with `problem` set ("cannot open", "not a regular file", too long).
// Anything but a regular file is refused without waiting on it, so a FIFO
// with no writer cannot hang the load.
std::shared_ptr<const MappedImage> MapImageFile(const std::string& path, std::string* problem);

}  // namespace sim
