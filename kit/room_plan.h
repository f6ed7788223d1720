// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the stick can keep of a failure's evidence, decided before the test
// from the volume's free space: each file in whole clusters, plus the cluster
// each safe replace may add to its folder, so that a "yes" here is a "yes"
// when the files are written.
#pragma once

#include <stdint.h>

// Most useful first: the log and RESULT.TXT, then the two chips, then the
// board record (both chips again and its description).
enum class KeepPlan : uint8_t { Nothing, LogOnly, LogAndChips, Everything };

// board.json's largest size: a fixed part and a line per PCI function and
// MTRR pair, for boards of up to a few hundred functions.
constexpr uint64_t kBoardJsonBound = 64 * 1024;

// The kit's log never grows past this: the log writer stops there. Its
// progress lines grow with the part (a failed run on 16 MiB chips writes about
// 1.4 MB), so the bound does too: 512 KiB and an eighth of the part.
uint64_t KitLogBound(uint64_t partBytes);

struct EvidenceBytes {
  uint64_t LogAndResult;  // the run folder, PELLRIX.LOG, RESULT.TXT and its .NEW
  uint64_t Chips;         // MAIN.BIN and BACKUP.BIN
  uint64_t Record;        // PELLRIX.REC with its two images and board.json
};

// The bytes each part of the evidence takes on a volume of `clusterBytes`
// clusters for a flash part of `partBytes`.
EvidenceBytes EvidenceBytesFor(uint64_t partBytes, uint32_t clusterBytes);

// The most that fits in `freeBytes`, parts taken in order of use.
KeepPlan PlanWhatToKeep(uint64_t freeBytes, uint32_t clusterBytes, uint64_t partBytes);

// "everything", "the log and both chips (no board record)", ... for the
// screen and RESULT.TXT.
const char* KeepPlanText(KeepPlan plan);
