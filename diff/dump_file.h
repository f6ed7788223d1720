// Reading a saved chip (or BIOS region) into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdiff {

// The whole file. False with a one-line reason in `problem` when the file is
// missing, unreadable or empty.
bool ReadDumpFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem);

}  // namespace pdiff
