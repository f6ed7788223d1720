// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/room_check.h"

#include "firmware/mailbox.h"
#include "record/board_probe.h"
#include "runtime/file_replace.h"
#include "runtime/file_stream.h"
#include "runtime/print.h"

namespace {

constexpr uint32_t kMiB = 1024 * 1024;
// Without the board's answer: the largest part boards commonly carry.
constexpr uint32_t kLargestCommonPart = 32 * kMiB;
// Two saved chips and the record's two images.
constexpr uint64_t kPartsKept = 4;
// The log, the record's description and the folders' own clusters.
constexpr uint64_t kLogAndListings = 1 * kMiB;

// The active chip's part size as the mailbox reports it. Without the board's
// chip select the flash SMI is not sent (its number may be another
// vendor's): the fixed bound stands.
uint32_t PartSize(bool* reported) {
  *reported = false;
  ChipSelectMode chipSelect = ProbeChipSelectMode();
  if (chipSelect != ChipSelectMode::Present) return kLargestCommonPart;
  uint32_t flashSize = 0;
  uint32_t biosSize = 0;
  uint32_t blockSize = 0;
  if (EfiError(QueryFlashMailbox(nullptr, &flashSize, &biosSize, &blockSize)) || flashSize == 0)
    return kLargestCommonPart;
  *reported = true;
  return flashSize;
}

}  // namespace

ExitStatus CheckRoomForEvidence() {
  bool reported = false;
  uint32_t part = PartSize(&reported);
  uint64_t needed = kPartsKept * part + kLogAndListings;
  uint64_t freeBytes = 0;
  uint32_t clusterBytes = 0;
  bool known = QueryFreeSpace(&freeBytes, &clusterBytes);
  bool fits = VolumeHasRoomFor(needed);
  Print("Room for the evidence of a failure (%d MiB for %s) ... ", static_cast<int>((needed + kMiB - 1) / kMiB),
        reported ? "two chips of this board twice" : "two 32 MiB chips twice, the part size unknown");
  if (!known)
    Print("%s\n", "free space not reported, assumed");
  else
    Print("%s, %d MiB free\n", fits ? "yes" : "NO", static_cast<int>(freeBytes / kMiB));
  return fits ? ExitStatus::Success : ExitStatus::NotSupported;
}
