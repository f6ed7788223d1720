// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's allocation failures in the real firmware: StartImage and
// AllocatePool in the boot-services table are wrapped. While an image named
// pellrix* runs, a pool allocation called from its own code (the return
// address lies in the image) is counted, and the listed ones fail.
#include "runtime/memory.h"
#include "sim/vboard/efi_media.h"
#include "sim/vboard/firmware_view.h"
#include "sim/vboard/vboard_file.h"

namespace vboard {
namespace {

decltype(EFI_BOOT_SERVICES::AllocatePool) firmwareAllocatePool = nullptr;
decltype(EFI_BOOT_SERVICES::StartImage) firmwareStartImage = nullptr;
EFI_BOOT_SERVICES* services = nullptr;

uint64_t failing[kMostAllocationFailures];
unsigned failingCount = 0;

// The program running now: its image's bytes, and its allocations so far.
uintptr_t imageStart = 0;
uintptr_t imageEnd = 0;
uint64_t calls = 0;

bool Fails(uint64_t ordinal) {
  for (unsigned i = 0; i < failingCount; ++i)
    if (failing[i] == ordinal) return true;
  return false;
}

EFI_STATUS EFIAPI BoardAllocatePool(EFI_MEMORY_TYPE type, UINTN size, void** buffer) {
  auto caller = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  if (caller >= imageStart && caller < imageEnd && Fails(++calls)) {
    *buffer = nullptr;
    return kEfiOutOfResources;
  }
  return firmwareAllocatePool(type, size, buffer);
}

// The last file-path node's name begins with "pellrix" (any case).
bool IsProgram(const void* devicePath) {
  const char* expected = "pellrix";
  bool matched = false;
  auto* node = static_cast<const uint8_t*>(devicePath);
  while (node != nullptr) {
    EFI_DEVICE_PATH_PROTOCOL header;
    memcpy(&header, node, sizeof header);
    unsigned nodeLength = header.Length[0] | header.Length[1] << 8;
    if (header.Type == kDevicePathEnd || nodeLength < sizeof header) break;
    if (header.Type == kDevicePathMedia && header.SubType == kDevicePathMediaFilePath) {
      // The name after the node's last backslash.
      unsigned begin = sizeof header;
      for (unsigned offset = sizeof header; offset + 1 < nodeLength; offset += 2)
        if (node[offset] == '\\' && node[offset + 1] == 0) begin = offset + 2;
      matched = true;
      for (unsigned i = 0; expected[i] != '\0'; ++i) {
        unsigned offset = begin + 2 * i;
        char c = offset + 1 < nodeLength && node[offset + 1] == 0 ? static_cast<char>(node[offset]) : '\0';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != expected[i]) matched = false;
      }
    }
    node += nodeLength;
  }
  return matched;
}

EFI_STATUS EFIAPI BoardStartImage(EFI_HANDLE image, UINTN* exitDataSize, CHAR16** exitData) {
  void* interface = nullptr;
  uintptr_t outerStart = imageStart, outerEnd = imageEnd;
  uint64_t outerCalls = calls;
  if (!EfiError(services->HandleProtocol(image, &kLoadedImageProtocolGuid, &interface)) && interface != nullptr) {
    auto* loaded = static_cast<EFI_LOADED_IMAGE_PROTOCOL*>(interface);
    if (IsProgram(loaded->FilePath)) {
      imageStart = reinterpret_cast<uintptr_t>(loaded->ImageBase);
      imageEnd = imageStart + loaded->ImageSize;
      calls = 0;
    }
  }
  EFI_STATUS status = firmwareStartImage(image, exitDataSize, exitData);
  imageStart = outerStart;
  imageEnd = outerEnd;
  calls = outerCalls;
  return status;
}

}  // namespace

const char* InstallAllocationFaults(EFI_BOOT_SERVICES* bootServices, const uint64_t* ordinals, unsigned count) {
  if (count == 0) return nullptr;
  if (count > kMostAllocationFailures) return "too many allocation failures";
  for (unsigned i = 0; i < count; ++i) failing[i] = ordinals[i];
  failingCount = count;
  services = bootServices;
  firmwareAllocatePool = bootServices->AllocatePool;
  firmwareStartImage = bootServices->StartImage;
  bootServices->AllocatePool = BoardAllocatePool;
  bootServices->StartImage = BoardStartImage;
  bootServices->Hdr.CRC32 = 0;
  uint32_t crc = 0;
  auto calculate = reinterpret_cast<EFI_CALCULATE_CRC32>(bootServices->CalculateCrc32);
  if (!EfiError(calculate(&bootServices->Hdr, bootServices->Hdr.HeaderSize, &crc))) bootServices->Hdr.CRC32 = crc;
  return nullptr;
}

}  // namespace vboard
