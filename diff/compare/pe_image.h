// SPDX-License-Identifier: BSD-2-Clause-Patent
// The headers of a driver's PE32, PE32+ or TE image as a build leaves them
// (time stamp, image size, sections, the CodeView record of its debug
// directory), and what differs inside two images of one file. Every read
// stays inside the image's own bytes: a malformed header is said, never
// followed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwtree {
struct TreeFile;
}

namespace pdiff {

struct PeSection {
  std::string name;
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;  // in the image's bytes (a TE image's adjusted)
  uint32_t rawSize = 0;    // clipped to the image
};

struct PeHeaders {
  bool te = false;
  std::string problem;  // what is malformed; the rest of the fields as far as read
  uint16_t machine = 0;
  std::optional<uint32_t> timeStamp;  // PE only; TE drops it
  std::optional<uint32_t> imageSize;  // PE only
  uint32_t entryPoint = 0;
  std::vector<PeSection> sections;
  std::optional<std::string> debugPath;  // the CodeView record's path
  std::optional<std::string> debugId;    // its GUID and age (or signature)
};

PeHeaders ReadPeHeaders(const uint8_t* image, uint64_t size, bool te);

struct SectionChange {
  std::string name;
  uint64_t differingBytes = 0;  // with the bytes one side has beyond the other
  int onlyIn = -1;              // 0 Main, 1 Backup, -1 both have it
};

// Two images of one changed file, side by side.
struct ImageChange {
  PeHeaders main, backup;
  std::optional<std::string> mainVersion, backupVersion;
  std::vector<SectionChange> sections;  // those that differ, in Main's order
  // Printable strings (ASCII or UTF-16, at least kShortestString characters)
  // found in one image only: the first kStringsListed, and how many.
  std::vector<std::string> onlyInMain, onlyInBackup;
  uint64_t onlyInMainCount = 0, onlyInBackupCount = 0;
  bool stringsCompared = true;  // false past the comparison's string budget
  // The headers, debug record or version section differ: a build of its own.
  bool rebuilt = false;
  std::vector<std::string> rebuiltBy;  // "time stamp", "image size", ...
};

constexpr size_t kShortestString = 6;
constexpr size_t kStringsListed = 20;
constexpr size_t kLongestStringListed = 120;  // characters of one listed string; longer ones end in "..."

// Null when either side holds no image. `stringBudget` is the image bytes
// left for string scans, charged here.
std::optional<ImageChange> CompareImages(const fwtree::TreeFile& main, const fwtree::TreeFile& backup,
                                         uint64_t* stringBudget);

// "2024-02-03 14:05:09 UTC".
std::string TimeStampText(uint32_t seconds);

}  // namespace pdiff
