// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "kit/room_plan.h"

namespace {

uint64_t Clusters(uint64_t bytes, uint64_t cluster) { return (bytes + cluster - 1) / cluster * cluster; }

}  // namespace

uint64_t KitLogBound(uint64_t partBytes) { return 512 * 1024 + partBytes / 8; }

EvidenceBytes EvidenceBytesFor(uint64_t partBytes, uint32_t clusterBytes) {
  uint64_t cluster = clusterBytes != 0 ? clusterBytes : 4096;
  EvidenceBytes bytes;
  // Folder cluster, the log, RESULT.NEW and RESULT.TXT (one cluster each,
  // both present for a moment), and the rename's directory growth.
  bytes.LogAndResult = cluster + Clusters(KitLogBound(partBytes), cluster) + 2 * cluster + cluster;
  // Each save checks for its part plus a cluster before it writes.
  bytes.Chips = 2 * (Clusters(partBytes, cluster) + cluster);
  // The record's folder, its two images and description, and the cluster its
  // own check keeps back.
  bytes.Record = cluster + 2 * Clusters(partBytes, cluster) + Clusters(kBoardJsonBound, cluster) + cluster;
  return bytes;
}

KeepPlan PlanWhatToKeep(uint64_t freeBytes, uint32_t clusterBytes, uint64_t partBytes) {
  EvidenceBytes bytes = EvidenceBytesFor(partBytes, clusterBytes);
  uint64_t needed = bytes.LogAndResult;
  if (freeBytes < needed) return KeepPlan::Nothing;
  needed += bytes.Chips;
  if (freeBytes < needed) return KeepPlan::LogOnly;
  needed += bytes.Record;
  if (freeBytes < needed) return KeepPlan::LogAndChips;
  return KeepPlan::Everything;
}

const char* KeepPlanText(KeepPlan plan) {
  switch (plan) {
    case KeepPlan::Everything: return "everything (log, both chips, board record)";
    case KeepPlan::LogAndChips: return "the log and both chips, no board record";
    case KeepPlan::LogOnly: return "the log only, no chips";
    case KeepPlan::Nothing: return "nothing";
  }
  return "nothing";
}
