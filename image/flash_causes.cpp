// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/flash_causes.h"

namespace {

uint64_t Load64(const uint8_t* bytes) {
  uint64_t word;
  __builtin_memcpy(&word, bytes, sizeof word);
  return word;
}

bool AllErased(const uint8_t* bytes, uint32_t length) {
  uint32_t at = 0;
  for (; at + 8 <= length; at += 8)
    if (Load64(bytes + at) != ~uint64_t(0)) return false;
  for (; at < length; ++at)
    if (bytes[at] != 0xFF) return false;
  return true;
}

// The first differing byte at or after `at`, or `length`; equal words are
// skipped eight bytes at a time.
uint32_t NextDifference(const uint8_t* a, const uint8_t* b, uint32_t at, uint32_t length) {
  while (at + 8 <= length && Load64(a + at) == Load64(b + at)) at += 8;
  while (at < length && a[at] == b[at]) ++at;
  return at;
}

// Set bits of a byte, without the library call the compiler makes of a
// population count on processors it cannot assume have the instruction.
uint32_t BitsSet(uint8_t value) {
  uint32_t bits = value - ((value >> 1) & 0x55u);
  bits = (bits & 0x33u) + ((bits >> 2) & 0x33u);
  return (bits + (bits >> 4)) & 0x0Fu;
}

}  // namespace

BlockVerdict ClassifyFlashBlock(const uint8_t* main, const uint8_t* backup, uint32_t length, bool whole) {
  BlockVerdict verdict{BlockCause::Same, 0, {0, 0}};
  bool scattered = true;
  uint32_t last = 0;
  for (uint32_t at = NextDifference(main, backup, 0, length); at < length;
       at = NextDifference(main, backup, at + 1, length)) {
    ++verdict.DifferingBytes;
    // Changed data: only the bytes are counted from here on.
    if (!scattered) continue;
    const uint32_t oneOnMain = BitsSet(uint8_t(main[at] & ~backup[at]));
    const uint32_t oneOnBackup = BitsSet(uint8_t(backup[at] & ~main[at]));
    if (oneOnMain + oneOnBackup > 2 || (verdict.DifferingBytes > 1 && at - last < kScatterDistance) ||
        verdict.DifferingBytes > kMostBitErrorBytesPerBlock)
      scattered = false;
    verdict.BitsOneOn[0] += oneOnMain;
    verdict.BitsOneOn[1] += oneOnBackup;
    last = at;
  }
  if (verdict.DifferingBytes == 0) return verdict;
  if (scattered) {
    verdict.Cause = BlockCause::BitErrors;
  } else if (whole && AllErased(main, length)) {
    verdict.Cause = BlockCause::ErasedOnMain;
  } else if (whole && AllErased(backup, length)) {
    verdict.Cause = BlockCause::ErasedOnBackup;
  } else {
    verdict.Cause = BlockCause::Other;
  }
  return verdict;
}

namespace {

void CloseLargeBlock(FlashCauses* causes) {
  constexpr uint32_t kParts = kLargeEraseBlock / kEraseBlock;
  for (int chip = 0; chip < 2; ++chip)
    if (causes->LargeErasedParts[chip] + causes->LargeDataParts[chip] == kParts && causes->LargeErasedParts[chip] > 0 &&
        causes->LargeDataParts[chip] == 0 && causes->LargeDataParts[1 - chip] > 0)
      ++causes->ErasedLargeBlocks[chip];
  for (int chip = 0; chip < 2; ++chip) causes->LargeErasedParts[chip] = causes->LargeDataParts[chip] = 0;
}

void NoteErased(FlashCauses* causes, int chip, uint64_t offset) {
  ++causes->ErasedBlocks[chip];
  uint32_t& runs = causes->ErasedRunCount[chip];
  if (runs > 0 && causes->ErasedRunEnd[chip] == offset) {
    if (runs <= kCauseOffsetsKept) ++causes->ErasedRuns[chip][runs - 1].Blocks;
  } else {
    if (runs < kCauseOffsetsKept) causes->ErasedRuns[chip][runs] = ErasedRun{offset, 1};
    ++runs;
  }
  causes->ErasedRunEnd[chip] = offset + kEraseBlock;
}

void NoteBitErrors(FlashCauses* causes, const uint8_t* main, const uint8_t* backup, uint32_t length, uint64_t offset,
                   const BlockVerdict& verdict) {
  uint32_t kept = causes->BitErrorBytes < kCauseOffsetsKept ? causes->BitErrorBytes : kCauseOffsetsKept;
  for (uint32_t at = NextDifference(main, backup, 0, length); at < length && kept < kCauseOffsetsKept;
       at = NextDifference(main, backup, at + 1, length))
    causes->BitErrorOffsets[kept++] = offset + at;
  causes->BitErrorBytes += verdict.DifferingBytes;
}

}  // namespace

void StartFlashCauses(FlashCauses* causes) { __builtin_memset(causes, 0, sizeof *causes); }

void AddFlashCauses(FlashCauses* causes, const uint8_t* main, const uint8_t* backup, uint64_t length,
                    uint64_t flashOffset) {
  if (!causes->Started) {
    causes->Started = true;
    causes->LargeIndex = flashOffset / kLargeEraseBlock;
  }
  uint64_t done = 0;
  while (done < length) {
    const uint64_t offset = flashOffset + done;
    const uint64_t blockEnd = (offset / kEraseBlock + 1) * kEraseBlock;
    const uint32_t piece = uint32_t(blockEnd - offset < length - done ? blockEnd - offset : length - done);
    const bool whole = piece == kEraseBlock;
    if (offset / kLargeEraseBlock != causes->LargeIndex) {
      CloseLargeBlock(causes);
      causes->LargeIndex = offset / kLargeEraseBlock;
    }
    const uint8_t* m = main + done;
    const uint8_t* b = backup + done;
    const BlockVerdict verdict = ClassifyFlashBlock(m, b, piece, whole);
    if (whole) {
      // The large block counts whole blocks only; a partial one never
      // completes it.
      const bool erased[2] = {
          verdict.Cause == BlockCause::ErasedOnMain || (verdict.Cause == BlockCause::Same && AllErased(m, piece)),
          verdict.Cause == BlockCause::ErasedOnBackup || (verdict.Cause == BlockCause::Same && AllErased(b, piece))};
      for (int chip = 0; chip < 2; ++chip) ++(erased[chip] ? causes->LargeErasedParts : causes->LargeDataParts)[chip];
    }
    switch (verdict.Cause) {
      case BlockCause::Same: break;
      case BlockCause::ErasedOnMain: NoteErased(causes, 0, offset); break;
      case BlockCause::ErasedOnBackup: NoteErased(causes, 1, offset); break;
      case BlockCause::BitErrors:
        ++causes->BitErrorBlocks;
        causes->BitsOneOn[0] += verdict.BitsOneOn[0];
        causes->BitsOneOn[1] += verdict.BitsOneOn[1];
        NoteBitErrors(causes, m, b, piece, offset, verdict);
        break;
      case BlockCause::Other:
        ++causes->OtherBlocks;
        causes->OtherBytes += verdict.DifferingBytes;
        break;
    }
    done += piece;
  }
  causes->NextOffset = flashOffset + length;
}

void FinishFlashCauses(FlashCauses* causes) { CloseLargeBlock(causes); }

void FindFlashCauses(FlashCauses* causes, const uint8_t* main, const uint8_t* backup, uint64_t length,
                     uint64_t flashOffset) {
  StartFlashCauses(causes);
  AddFlashCauses(causes, main, backup, length, flashOffset);
  FinishFlashCauses(causes);
}

int BitErrorChip(const FlashCauses& causes) {
  if (causes.BitErrorBytes == 0) return -1;
  if (causes.BitsOneOn[0] > 0 && causes.BitsOneOn[1] > 0) return 2;
  return causes.BitsOneOn[0] > 0 ? 0 : 1;
}
