// SPDX-License-Identifier: BSD-2-Clause-Patent
// The EDK2 variable stores of two dumps compared variable by variable:
// each variable is known by its name and vendor GUID, and the copy the
// firmware would read (added, else half-way through being replaced) is the
// one compared. Stores are paired in the order they lie in each dump.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diff/compare/chip_dump.h"
#include "fwtree/variable_store.h"

namespace pdiff {

struct Geometry;

enum class VariableChangeKind { Changed, OnlyInMain, OnlyInBackup, DeletedInMain, DeletedInBackup };

const char* VariableChangeName(VariableChangeKind kind);

// One side's copy of a variable.
struct VariableCopy {
  uint64_t flashOffset;  // of its header
  uint32_t dataSize;
  uint32_t attributes;
  uint8_t state;
  std::vector<uint8_t> data;  // its value as saved
  // The authenticated layout's header fields, which tell two writes of one
  // value apart.
  bool authenticated = false;
  uint64_t monotonicCount = 0;
  std::array<uint8_t, 16> timeStamp{};
  uint32_t publicKeyIndex = 0;
};

// A field of two copies' authenticated headers that differs, in words.
struct HeaderChange {
  const char* field;  // "time stamp", "monotonic count", "public-key index"
  std::string main;
  std::string backup;
};

// The header fields that differ between two copies that both have the
// authenticated layout (none otherwise).
std::vector<HeaderChange> HeaderChanges(const VariableCopy& main, const VariableCopy& backup);

// An EFI_TIME as "2024-01-31 13:05:00" (nanoseconds and time zone added when
// set), "none (zero)" when all its bytes are zero; a field out of range
// shows the bytes.
std::string EfiTimeText(const std::array<uint8_t, 16>& time);

struct VariableChange {
  VariableChangeKind kind;
  std::string name;  // UTF-8, not yet escaped
  fwtree::Guid vendor;
  std::optional<VariableCopy> main;  // null on the side without any copy
  std::optional<VariableCopy> backup;
};

// One dump's store: where it lies, and why it was not read when it was not
// (its differences are then only the byte ranges).
struct StoreReading {
  int dump;  // 0 Main, 1 Backup
  uint64_t flashOffset;
  uint64_t length;
  std::optional<fwtree::VariableStoreLayout> layout;
  std::string problem;
  // The fault-tolerant-write areas beside the store, with whether their
  // bytes differ from the other dump's at the same flash offset.
  struct Area {
    uint64_t flashOffset;
    uint64_t length;
    bool differs;
  };
  std::optional<Area> workingBlock;
  std::optional<Area> spare;
};

struct VariableComparison {
  std::vector<StoreReading> stores;     // whose volumes differ: Main's, then Backup's
  std::vector<VariableChange> changes;  // Main's order, then those met only in Backup
  // Variables of one value lying at other places in the two stores (a
  // store reclaimed, its records compacted): not changes, but said.
  uint64_t movedUnchanged = 0;
};

struct VariableChangeCounts {
  uint64_t changed = 0;
  uint64_t onlyInMain = 0;
  uint64_t onlyInBackup = 0;
  uint64_t deletedInMain = 0;
  uint64_t deletedInBackup = 0;
};

// The store of one non-volatile data volume of a dump's tree.
struct DumpStore {
  uint64_t fileOffset;  // of the volume
  uint64_t volumeLength;
  fwtree::VariableStore store;
};

// The stores of the dump's non-volatile data volumes that lie in its own
// bytes, in the order they lie there.
std::vector<DumpStore> ReadDumpStores(const ChipDump& dump);

// Reads the stores of the non-volatile data volumes of both dumps' trees;
// the dumps' bytes must be shown as saved (unmasked).
VariableComparison CompareVariables(const Geometry& geometry, const ChipDump& main, const ChipDump& backup);

VariableChangeCounts CountVariableChanges(const std::vector<VariableChange>& changes);

}  // namespace pdiff
