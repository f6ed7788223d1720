// SPDX-License-Identifier: BSD-2-Clause-Patent
// Why two chips' bytes differ, from the bytes alone: whole erase blocks
// reading erased on one chip where the other holds data (an erase never
// followed by its write), and scattered bytes that differ in one or two bits
// (a failing part). Freestanding: no allocation, no library; the chips may
// be handed over in pieces, in order.
#pragma once

#include <stdint.h>

// The erase block the rules judge, and the larger block also counted.
constexpr uint32_t kEraseBlock = 0x1000;
constexpr uint32_t kLargeEraseBlock = 0x10000;
// A block with more differing bytes than this, or two differing bytes closer
// than kScatterDistance, holds changed data, not flipped bits.
constexpr uint32_t kMostBitErrorBytesPerBlock = 16;
constexpr uint32_t kScatterDistance = 8;
// Runs and offsets kept for the report; the counts go on past them.
constexpr uint32_t kCauseOffsetsKept = 8;

enum class BlockCause : uint8_t {
  Same,
  ErasedOnMain,    // Main all 0xFF, Backup holds data
  ErasedOnBackup,  // Backup all 0xFF, Main holds data
  BitErrors,       // every differing byte a scattered one- or two-bit flip
  Other,           // changed data no rule above explains
};

struct BlockVerdict {
  BlockCause Cause;
  uint32_t DifferingBytes;
  // Differing bits, each way: reading 1 on that chip where the other reads
  // 0 (index 0 Main, 1 Backup); counted in full for bit errors only.
  uint32_t BitsOneOn[2];
};

// Judges main[0, length) against backup[0, length). An erased verdict is
// given only to a whole block (`whole`: length is kEraseBlock and the block
// is aligned in the part).
BlockVerdict ClassifyFlashBlock(const uint8_t* main, const uint8_t* backup, uint32_t length, bool whole);

struct ErasedRun {
  uint64_t Offset;  // flash offset of its first block
  uint32_t Blocks;  // of kEraseBlock bytes
};

struct FlashCauses {
  // Index 0 Main, 1 Backup: the chip reading erased.
  uint32_t ErasedBlocks[2];
  uint32_t ErasedLargeBlocks[2];  // whole aligned kLargeEraseBlock blocks among them
  uint32_t ErasedRunCount[2];
  ErasedRun ErasedRuns[2][kCauseOffsetsKept];

  uint32_t BitErrorBlocks;
  uint32_t BitErrorBytes;
  uint32_t BitsOneOn[2];                        // of the bit errors, reading 1 on that chip where the other reads 0
  uint64_t BitErrorOffsets[kCauseOffsetsKept];  // flash offsets of the first flipped bytes

  uint32_t OtherBlocks;
  uint64_t OtherBytes;

  // Where the next piece must start, and the large block under way.
  uint64_t NextOffset;
  uint64_t ErasedRunEnd[2];
  uint64_t LargeIndex;
  uint32_t LargeErasedParts[2];  // its whole blocks erased on that chip
  uint32_t LargeDataParts[2];    // its whole blocks holding data on that chip
  bool Started;
};

void StartFlashCauses(FlashCauses* causes);
// The next piece of both chips: length bytes from flash offset
// `flashOffset` (the first piece may start anywhere; each later one where
// the last ended). Blocks are cut at kEraseBlock boundaries of the part, so
// a block split between two pieces is judged as two partial blocks: hand
// pieces over in whole blocks.
void AddFlashCauses(FlashCauses* causes, const uint8_t* main, const uint8_t* backup, uint64_t length,
                    uint64_t flashOffset);
// Closes the large block under way; call once after the last piece.
void FinishFlashCauses(FlashCauses* causes);

// The whole of it for two buffers of one part.
void FindFlashCauses(FlashCauses* causes, const uint8_t* main, const uint8_t* backup, uint64_t length,
                     uint64_t flashOffset);

// The chip the bit errors point at: NOR flash loses charge as programmed 0s
// reading 1, and a program that failed leaves 1s, so the chip reading 1
// where the other reads 0 is the failing one. 0 Main, 1 Backup, 2 both
// ways, -1 no bit errors.
int BitErrorChip(const FlashCauses& causes);
