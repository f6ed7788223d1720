// SPDX-License-Identifier: BSD-2-Clause-Patent
// The firmware tree of one dump: every firmware volume and every FFS file at
// any depth, through compression and GUID-defined sections and nested volume
// images. The tree points into the image it was built from (which must
// outlive it) and owns the bytes it decompressed.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "fwtree/guid.h"
#include "fwtree/guid_path.h"

namespace fwtree {

struct TreeVolume {
  Guid fileSystem{};
  std::optional<Guid> name;        // from the extended header
  GuidPath path;                   // enclosing volumes and files, then this volume's own GUID
  int ffsVersion = 0;              // 2 or 3; 0 when its files are not walked
  std::optional<uint64_t> offset;  // in the image; null inside decompressed bytes
  uint64_t length = 0;             // as the header states it, clipped to what holds it
  int parentFile = -1;             // the file whose section holds it
  bool compressed = false;
};

struct TreeFile {
  Guid guid{};
  uint8_t type = 0;
  uint8_t attributes = 0;
  GuidPath path;       // the GUIDs of the enclosing volumes and files, outermost first
  uint32_t index = 0;  // among the files of the same path and GUID, in order
  int volume = -1;
  int parentFile = -1;
  std::optional<std::string> name;     // from its user-interface section, as UTF-8
  std::optional<std::string> version;  // the text of its version section, as UTF-8
  const uint8_t* bytes = nullptr;      // header and data
  uint64_t size = 0;
  std::optional<uint64_t> offset;     // in the image; null inside decompressed bytes
  bool compressed = false;            // inside a compressed encapsulation
  std::vector<std::string> problems;  // sections that could not be opened
  // The body of its first PE32 or TE section (in decoded bytes when it lies
  // inside a compressed one), or null.
  const uint8_t* image = nullptr;
  uint64_t imageSize = 0;
  bool imageIsTe = false;
};

struct FirmwareTree {
  std::vector<TreeVolume> volumes;
  std::vector<TreeFile> files;               // pad files left out; every file after the file that holds it
  std::vector<std::string> problems;         // limits reached, damaged or cut volumes
  uint64_t decodedBytes = 0;                 // held in `decoded`
  std::deque<std::vector<uint8_t>> decoded;  // the bytes decompressed sections produced
};

// Bounds of one walk, whatever the image holds. The budget covers the
// decompressed bytes and the tree's own records together (with the
// decoders' working memory while they run); the counts lie far above any
// real image. Reaching one is a problem of the tree, the rest not listed.
struct TreeLimits {
  int maxDepth = 16;  // nested volumes and encapsulations
  uint64_t budget = 192ull << 20;
  uint32_t maxFiles = 1'000'000;
  uint32_t maxVolumes = 100'000;
};

// Finds the firmware volumes in image[0, size) (their signature at any
// 8-byte boundary) and walks each.
FirmwareTree BuildFirmwareTree(const uint8_t* image, uint64_t size, const TreeLimits& limits = {});

// PI file type name ("DRIVER", "PEIM", ...; "0xNN" for the others).
std::string FileTypeName(uint8_t type);

}  // namespace fwtree
