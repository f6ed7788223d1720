// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fwtree/variable_store.h"

#include <cstdio>
#include <cstring>

#include "fwtree/utf16_text.h"
#include "image/layout.h"

namespace fwtree {

namespace {

using image_layout::Load16;
using image_layout::Load32;
using image_layout::Load64;

// The store header: signature GUID, Size, Format, State, two reserved fields.
constexpr uint64_t kStoreHeaderSize = 28;
constexpr uint64_t kStoreSizeOffset = 16;
constexpr uint64_t kStoreFormatOffset = 20;
constexpr uint64_t kStoreStateOffset = 21;
constexpr uint8_t kStoreFormatted = 0x5A;
constexpr uint8_t kStoreHealthy = 0xFE;

// Variable headers: StartId, State, a reserved byte and Attributes, then in
// the authenticated layout MonotonicCount, TimeStamp and PubKeyIndex, then
// NameSize, DataSize and VendorGuid. Name and data follow.
constexpr uint16_t kStartId = 0x55AA;
constexpr uint64_t kPlainHeaderSize = 32;
constexpr uint64_t kAuthenticatedHeaderSize = 60;
constexpr uint64_t kStateOffset = 2;
constexpr uint64_t kAttributesOffset = 4;
constexpr uint64_t kMonotonicCountOffset = 8;
constexpr uint64_t kTimeStampOffset = 16;
constexpr uint64_t kPublicKeyIndexOffset = 32;
// Every header begins on a 4-byte boundary.
constexpr uint64_t kHeaderAlignment = 4;

// The working block header: signature, CRC, state bits, reserved bytes and
// the size of the write queue that follows it.
constexpr uint64_t kWorkingBlockHeaderSize = 32;
constexpr uint64_t kWriteQueueSizeOffset = 24;
constexpr uint64_t kWorkingBlockSearchStep = 8;

uint64_t AlignUp(uint64_t value, uint64_t to) { return (value + to - 1) / to * to; }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool GuidIs(const uint8_t* bytes, const Guid& guid) { return std::memcmp(bytes, guid.data(), guid.size()) == 0; }

// The working block follows the store, after whatever the platform keeps
// between them; older firmware signs it with the volume's file system GUID.
void FindWorkingBlock(const uint8_t* volume, uint64_t length, VariableStore* store) {
  const uint64_t from = AlignUp(store->store.offset + store->store.length, kWorkingBlockSearchStep);
  for (uint64_t at = from; at <= length && length - at >= kWorkingBlockHeaderSize; at += kWorkingBlockSearchStep) {
    if (!GuidIs(volume + at, kWorkingBlockSignature) && !GuidIs(volume + at, kSystemNvDataFileSystem)) continue;
    const uint64_t queue = Load64(volume + at + kWriteQueueSizeOffset);
    if (queue > length - at - kWorkingBlockHeaderSize) continue;
    store->workingBlock = VolumeArea{at, kWorkingBlockHeaderSize + queue};
    const uint64_t end = at + kWorkingBlockHeaderSize + queue;
    if (end < length) store->spare = VolumeArea{end, length - end};
    return;
  }
}

// Reads the variables from the store's first header to the first place
// that holds no header; false with the problem set when one runs past the
// store's end.
bool ReadVariables(const uint8_t* volume, VariableStore* store) {
  const bool authenticated = store->layout == VariableStoreLayout::Authenticated;
  const uint64_t headerSize = authenticated ? kAuthenticatedHeaderSize : kPlainHeaderSize;
  const uint64_t end = store->store.offset + store->store.length;
  uint64_t at = AlignUp(store->store.offset + kStoreHeaderSize, kHeaderAlignment);
  while (at <= end && end - at >= headerSize && Load16(volume + at) == kStartId) {
    if (store->variables.size() == kMaxStoredVariables) {
      store->problem = "more than " + std::to_string(kMaxStoredVariables) + " variables";
      return false;
    }
    const uint8_t* header = volume + at;
    const uint32_t nameSize = Load32(header + headerSize - 24);
    const uint32_t dataSize = Load32(header + headerSize - 20);
    const uint64_t nameAt = at + headerSize;
    if (uint64_t(nameSize) + dataSize > end - nameAt) {
      store->problem = "the variable at " + Hex(at) + " claims " + std::to_string(nameSize) + " bytes of name and " +
                       std::to_string(dataSize) + " of data, past the store's end at " + Hex(end);
      return false;
    }
    StoredVariable variable;
    variable.offset = at;
    variable.state = header[kStateOffset];
    variable.attributes = Load32(header + kAttributesOffset);
    variable.vendor = GuidAt(header + headerSize - 16);
    // The whole name the header sizes, its closing NULs left out: names that
    // agree only up to an inner NUL are two variables.
    uint64_t units = nameSize & ~uint64_t(1);
    while (units >= 2 && Load16(volume + nameAt + units - 2) == 0) units -= 2;
    variable.nameUnits.assign(reinterpret_cast<const char*>(volume + nameAt), units);
    for (uint64_t part = 0; part < units || part == 0;) {
      uint64_t stop = part;
      while (stop < units && Load16(volume + nameAt + stop) != 0) stop += 2;
      if (part > 0) variable.name += '\0';  // shown escaped, never cut at
      variable.name += Utf8FromUtf16(volume + nameAt + part, stop - part);
      part = stop + 2;
    }
    variable.data = volume + nameAt + nameSize;
    variable.dataSize = dataSize;
    if (authenticated) {
      variable.monotonicCount = Load64(header + kMonotonicCountOffset);
      std::memcpy(variable.timeStamp.data(), header + kTimeStampOffset, variable.timeStamp.size());
      variable.publicKeyIndex = Load32(header + kPublicKeyIndexOffset);
    }
    store->variables.push_back(std::move(variable));
    at = AlignUp(nameAt + nameSize + dataSize, kHeaderAlignment);
  }
  store->variablesEnd = at < end ? at : end;
  return true;
}

}  // namespace

const char* VariableStoreLayoutName(VariableStoreLayout layout) {
  return layout == VariableStoreLayout::Authenticated ? "VSS2" : "VSS";
}

bool IsLive(uint8_t state) {
  return state == kVariableAdded || state == (kVariableAdded & kVariableInDeletedTransition);
}

std::string VariableStateName(uint8_t state) {
  if (state == kVariableAdded) return "added";
  if (state == (kVariableAdded & kVariableInDeletedTransition)) return "in deleted transition";
  if (state == (kVariableAdded & kVariableDeleted) ||
      state == (kVariableAdded & kVariableInDeletedTransition & kVariableDeleted))
    return "deleted";
  if (state == kVariableHeaderValidOnly) return "header valid only";
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", state);
  return text;
}

VariableStore ReadVariableStore(const uint8_t* volume, uint64_t length) {
  VariableStore store;
  if (length < image_layout::kFvFixedHeaderSize) {
    store.problem = "the volume is shorter than its own header";
    return store;
  }
  const uint64_t at = Load16(volume + image_layout::kFvHeaderLength);
  if (at > length || length - at < kStoreHeaderSize) {
    store.problem = "no room for a store header after the volume header";
    return store;
  }
  const uint8_t* header = volume + at;
  if (GuidIs(header, kAuthenticatedVariableStoreSignature)) {
    store.layout = VariableStoreLayout::Authenticated;
  } else if (!GuidIs(header, kVariableStoreSignature)) {
    store.problem = "not an EDK2 variable store (signature " + GuidText(GuidAt(header)) + ")";
    return store;
  }
  const uint64_t size = Load32(header + kStoreSizeOffset);
  store.store = VolumeArea{at, size};
  if (size < kStoreHeaderSize || size > length - at) {
    store.problem = "the store header claims " + std::to_string(size) + " bytes, its volume holds " +
                    std::to_string(length - at) + " after the volume header";
    return store;
  }
  const uint8_t format = header[kStoreFormatOffset];
  const uint8_t state = header[kStoreStateOffset];
  if (format != kStoreFormatted || state != kStoreHealthy) {
    store.problem =
        "the store header is not formatted and healthy (format " + Hex(format) + ", state " + Hex(state) + ")";
    return store;
  }
  if (!ReadVariables(volume, &store)) return store;
  FindWorkingBlock(volume, length, &store);
  return store;
}

}  // namespace fwtree
