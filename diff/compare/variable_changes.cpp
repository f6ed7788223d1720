// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/variable_changes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "diff/compare/comparison.h"

namespace pdiff {

namespace {

using VariableKey = std::pair<std::string, fwtree::Guid>;  // UTF-16 name bytes, vendor

// The copy the firmware reads for each name: an added one, else one being
// replaced, else the last deleted one.
struct ChosenCopies {
  std::vector<VariableKey> order;
  std::map<VariableKey, const fwtree::StoredVariable*> copy;
};

int Rank(uint8_t state) {
  if (state == fwtree::kVariableAdded) return 2;
  return fwtree::IsLive(state) ? 1 : 0;
}

ChosenCopies ChooseCopies(const fwtree::VariableStore& store) {
  ChosenCopies chosen;
  for (const fwtree::StoredVariable& variable : store.variables) {
    VariableKey key{variable.nameUnits, variable.vendor};
    auto [found, added] = chosen.copy.try_emplace(key, &variable);
    if (added)
      chosen.order.push_back(std::move(key));
    else if (Rank(variable.state) >= Rank(found->second->state))
      found->second = &variable;
  }
  // Listed where the copy read lies, as the store's readers list them.
  std::sort(chosen.order.begin(), chosen.order.end(), [&](const VariableKey& a, const VariableKey& b) {
    return chosen.copy[a]->offset < chosen.copy[b]->offset;
  });
  return chosen;
}

// The same value written the same way: for two authenticated copies the
// header's time stamp, count and key index too (a database re-signed with
// its entries unchanged is a change a person must see).
bool SameCopy(const fwtree::StoredVariable& a, const fwtree::StoredVariable& b, bool bothAuthenticated) {
  if (a.attributes != b.attributes || a.dataSize != b.dataSize || std::memcmp(a.data, b.data, a.dataSize) != 0)
    return false;
  return !bothAuthenticated ||
         (a.monotonicCount == b.monotonicCount && a.timeStamp == b.timeStamp && a.publicKeyIndex == b.publicKeyIndex);
}

bool Authenticated(const DumpStore* store) {
  return store != nullptr && store->store.layout == fwtree::VariableStoreLayout::Authenticated;
}

class Collector {
 public:
  Collector(const Geometry& geometry, const ChipDump& main, const ChipDump& backup, VariableComparison* result)
      : geometry_(geometry), main_(main), backup_(backup), result_(result) {}

  // Variables of two paired stores; either may be absent.
  void Compare(const DumpStore* main, const DumpStore* backup) {
    const ChosenCopies a = main ? ChooseCopies(main->store) : ChosenCopies{};
    const ChosenCopies b = backup ? ChooseCopies(backup->store) : ChosenCopies{};
    const bool bothAuthenticated = Authenticated(main) && Authenticated(backup);
    for (const VariableKey& key : a.order) {
      const fwtree::StoredVariable& m = *a.copy.at(key);
      auto other = b.copy.find(key);
      const fwtree::StoredVariable* k = other == b.copy.end() ? nullptr : other->second;
      const bool mainLive = fwtree::IsLive(m.state);
      if (k == nullptr) {
        if (mainLive) Add(VariableChangeKind::OnlyInMain, main, &m, backup, nullptr);
      } else if (mainLive && fwtree::IsLive(k->state)) {
        if (!SameCopy(m, *k, bothAuthenticated))
          Add(VariableChangeKind::Changed, main, &m, backup, k);
        else if (m.offset != k->offset)
          ++result_->movedUnchanged;  // a reclaimed store compacts its records: no change
      } else if (mainLive) {
        Add(VariableChangeKind::DeletedInBackup, main, &m, backup, k);
      } else if (fwtree::IsLive(k->state)) {
        Add(VariableChangeKind::DeletedInMain, main, &m, backup, k);
      }
    }
    for (const VariableKey& key : b.order) {
      const fwtree::StoredVariable& k = *b.copy.at(key);
      if (!a.copy.contains(key) && fwtree::IsLive(k.state))
        Add(VariableChangeKind::OnlyInBackup, main, nullptr, backup, &k);
    }
  }

 private:
  std::optional<VariableCopy> Copy(const ChipDump& dump, const DumpStore* store, const fwtree::StoredVariable* v) {
    if (v == nullptr) return std::nullopt;
    VariableCopy copy{FileFlashOffset(geometry_, dump, store->fileOffset + v->offset), v->dataSize, v->attributes,
                      v->state, std::vector<uint8_t>(v->data, v->data + v->dataSize)};
    copy.authenticated = Authenticated(store);
    copy.monotonicCount = v->monotonicCount;
    copy.timeStamp = v->timeStamp;
    copy.publicKeyIndex = v->publicKeyIndex;
    return copy;
  }

  void Add(VariableChangeKind kind, const DumpStore* mainStore, const fwtree::StoredVariable* m,
           const DumpStore* backupStore, const fwtree::StoredVariable* b) {
    const fwtree::StoredVariable& named = m != nullptr ? *m : *b;
    result_->changes.push_back(
        {kind, named.name, named.vendor, Copy(main_, mainStore, m), Copy(backup_, backupStore, b)});
  }

  const Geometry& geometry_;
  const ChipDump& main_;
  const ChipDump& backup_;
  VariableComparison* result_;
};

// Whether the dump's bytes at [flash, flash + length) differ from the other
// dump's at the same flash offsets (bytes one dump lacks differ).
bool AreaDiffers(const Geometry& geometry, const ChipDump& dump, const ChipDump& other, uint64_t fileOffset,
                 uint64_t length) {
  if (!InsideFlashPart(geometry, dump, fileOffset)) return true;
  const std::optional<uint64_t> otherOffset =
      FlashFileOffset(geometry, other, FileFlashOffset(geometry, dump, fileOffset));
  if (!otherOffset || other.fileSize() - *otherOffset < length) return true;
  return std::memcmp(dump.file() + fileOffset, other.file() + *otherOffset, length) != 0;
}

StoreReading Reading(const Geometry& geometry, int index, const ChipDump& dump, const ChipDump& other,
                     const DumpStore& read) {
  const fwtree::VariableStore& store = read.store;
  // A store not read is placed by its volume.
  StoreReading reading{index,
                       FileFlashOffset(geometry, dump, read.fileOffset),
                       read.volumeLength,
                       std::nullopt,
                       store.problem,
                       std::nullopt,
                       std::nullopt};
  if (!store.problem.empty()) return reading;
  reading.flashOffset = FileFlashOffset(geometry, dump, read.fileOffset + store.store.offset);
  reading.length = store.store.length;
  reading.layout = store.layout;
  auto area = [&](const std::optional<fwtree::VolumeArea>& part) -> std::optional<StoreReading::Area> {
    if (!part) return std::nullopt;
    const uint64_t at = read.fileOffset + part->offset;
    return StoreReading::Area{FileFlashOffset(geometry, dump, at), part->length,
                              AreaDiffers(geometry, dump, other, at, part->length)};
  };
  reading.workingBlock = area(store.workingBlock);
  reading.spare = area(store.spare);
  return reading;
}

}  // namespace

const char* VariableChangeName(VariableChangeKind kind) {
  switch (kind) {
    case VariableChangeKind::Changed: return "changed";
    case VariableChangeKind::OnlyInMain: return "only in Main";
    case VariableChangeKind::OnlyInBackup: return "only in Backup";
    case VariableChangeKind::DeletedInMain: return "deleted in Main";
    case VariableChangeKind::DeletedInBackup: return "deleted in Backup";
  }
  return "?";
}

std::vector<DumpStore> ReadDumpStores(const ChipDump& dump) {
  std::vector<DumpStore> stores;
  for (const fwtree::TreeVolume& volume : dump.tree().volumes)
    if (volume.fileSystem == fwtree::kSystemNvDataFileSystem && volume.offset && !volume.compressed)
      stores.push_back(
          {*volume.offset, volume.length, fwtree::ReadVariableStore(dump.file() + *volume.offset, volume.length)});
  return stores;
}

VariableComparison CompareVariables(const Geometry& geometry, const ChipDump& main, const ChipDump& backup) {
  VariableComparison result;
  const std::vector<DumpStore> a = ReadDumpStores(main);
  const std::vector<DumpStore> b = ReadDumpStores(backup);
  // Only stores whose volume differs have something to say: identical
  // dumps, whose trees are never walked, report the same as a full walk.
  for (const DumpStore& store : a)
    if (AreaDiffers(geometry, main, backup, store.fileOffset, store.volumeLength))
      result.stores.push_back(Reading(geometry, 0, main, backup, store));
  for (const DumpStore& store : b)
    if (AreaDiffers(geometry, backup, main, store.fileOffset, store.volumeLength))
      result.stores.push_back(Reading(geometry, 1, backup, main, store));
  Collector collector(geometry, main, backup, &result);
  // A store that could not be read names no variables: its bytes stay
  // one range of differences.
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const DumpStore* m = i < a.size() ? &a[i] : nullptr;
    const DumpStore* k = i < b.size() ? &b[i] : nullptr;
    if ((m != nullptr && !m->store.problem.empty()) || (k != nullptr && !k->store.problem.empty())) continue;
    collector.Compare(m, k);
  }
  return result;
}

std::vector<HeaderChange> HeaderChanges(const VariableCopy& main, const VariableCopy& backup) {
  std::vector<HeaderChange> changes;
  if (!main.authenticated || !backup.authenticated) return changes;
  if (main.timeStamp != backup.timeStamp)
    changes.push_back({"time stamp", EfiTimeText(main.timeStamp), EfiTimeText(backup.timeStamp)});
  if (main.monotonicCount != backup.monotonicCount)
    changes.push_back({"monotonic count", std::to_string(main.monotonicCount), std::to_string(backup.monotonicCount)});
  if (main.publicKeyIndex != backup.publicKeyIndex)
    changes.push_back({"public-key index", std::to_string(main.publicKeyIndex), std::to_string(backup.publicKeyIndex)});
  return changes;
}

std::string EfiTimeText(const std::array<uint8_t, 16>& time) {
  if (std::all_of(time.begin(), time.end(), [](uint8_t byte) { return byte == 0; })) return "none (zero)";
  const unsigned year = unsigned(time[0] | time[1] << 8);
  const unsigned month = time[2], day = time[3], hour = time[4], minute = time[5], second = time[6];
  const uint32_t nanosecond =
      uint32_t(time[8]) | uint32_t(time[9]) << 8 | uint32_t(time[10]) << 16 | uint32_t(time[11]) << 24;
  const int zone = int16_t(uint16_t(time[12] | time[13] << 8));
  char text[96];
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
      nanosecond > 999999999) {
    std::string bytes = "not a time:";
    for (const uint8_t byte : time) {
      std::snprintf(text, sizeof text, " %02x", byte);
      bytes += text;
    }
    return bytes;
  }
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", year, month, day, hour, minute, second);
  std::string out = text;
  if (nanosecond != 0) {
    std::snprintf(text, sizeof text, ".%09u", unsigned(nanosecond));
    out += text;
  }
  // 0x7FF: no time zone given; EDK2 writes 0 for UTC.
  if (zone != 0 && zone != 0x7FF) {
    std::snprintf(text, sizeof text, " (time zone %+d min)", zone);
    out += text;
  }
  return out;
}

VariableChangeCounts CountVariableChanges(const std::vector<VariableChange>& changes) {
  VariableChangeCounts counts;
  for (const VariableChange& change : changes) {
    switch (change.kind) {
      case VariableChangeKind::Changed: ++counts.changed; break;
      case VariableChangeKind::OnlyInMain: ++counts.onlyInMain; break;
      case VariableChangeKind::OnlyInBackup: ++counts.onlyInBackup; break;
      case VariableChangeKind::DeletedInMain: ++counts.deletedInMain; break;
      case VariableChangeKind::DeletedInBackup: ++counts.deletedInBackup; break;
    }
  }
  return counts;
}

}  // namespace pdiff
