// SPDX-License-Identifier: BSD-2-Clause-Patent
// EDK2's variable store as it lies in a non-volatile data volume: the store
// header after the volume header, the variables one after another (the
// plain layout or the authenticated one), and the fault-tolerant-write
// working block and spare area that follow it in the same volume.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fwtree/guid.h"

namespace fwtree {

// The file system of the volume that holds the store.
inline constexpr Guid kSystemNvDataFileSystem = GuidFromText("FFF12B8D-7696-4C8B-A985-2747075B4F50");
inline constexpr Guid kVariableStoreSignature = GuidFromText("DDCF3616-3275-4164-98B6-FE85707FFE7D");
inline constexpr Guid kAuthenticatedVariableStoreSignature = GuidFromText("AAF32C78-947B-439A-A180-2E144EC37792");
inline constexpr Guid kWorkingBlockSignature = GuidFromText("9E58292B-7C68-497D-A0CE-6500FD9F1B95");

// A variable's state byte: flash bits are only ever cleared, so each step
// of its life ANDs one of these in.
inline constexpr uint8_t kVariableHeaderValidOnly = 0x7F;
inline constexpr uint8_t kVariableAdded = 0x3F;
inline constexpr uint8_t kVariableInDeletedTransition = 0xFE;
inline constexpr uint8_t kVariableDeleted = 0xFD;

enum class VariableStoreLayout { Plain, Authenticated };

const char* VariableStoreLayoutName(VariableStoreLayout layout);  // "VSS", "VSS2"

struct StoredVariable {
  uint64_t offset = 0;  // of its header, from the volume's first byte
  uint8_t state = 0;
  uint32_t attributes = 0;
  Guid vendor{};
  std::string name;       // UTF-8; an inner NUL of the name stays a NUL
  std::string nameUnits;  // the name's UTF-16 bytes without its closing NULs, to tell names apart exactly
  const uint8_t* data = nullptr;
  uint32_t dataSize = 0;
  // Authenticated layout only.
  uint64_t monotonicCount = 0;
  std::array<uint8_t, 16> timeStamp{};  // an EFI_TIME as stored
  uint32_t publicKeyIndex = 0;
};

// Whether the firmware would read the variable: added, or half-way through
// being replaced by a newer copy.
bool IsLive(uint8_t state);
// "added", "in deleted transition", "deleted", "header valid only" or "0xNN".
std::string VariableStateName(uint8_t state);

struct VolumeArea {
  uint64_t offset = 0;  // from the volume's first byte
  uint64_t length = 0;
};

struct VariableStore {
  // Empty when the store was read to its end; otherwise why not, and
  // nothing else is filled in beyond what was read before the fault.
  std::string problem;
  VariableStoreLayout layout = VariableStoreLayout::Plain;
  VolumeArea store;                       // header, variables and free space
  std::vector<StoredVariable> variables;  // in store order, deleted copies included
  uint64_t variablesEnd = 0;              // where free space begins
  std::optional<VolumeArea> workingBlock;
  std::optional<VolumeArea> spare;  // the rest of the volume after the working block
};

// At most this many variables are read from one store.
inline constexpr size_t kMaxStoredVariables = 65536;

// Reads the store of the volume volume[0, length), whose header names
// kSystemNvDataFileSystem; the store begins where the volume header ends.
// Every read stays inside the volume.
VariableStore ReadVariableStore(const uint8_t* volume, uint64_t length);

}  // namespace fwtree
