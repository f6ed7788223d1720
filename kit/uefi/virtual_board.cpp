// SPDX-License-Identifier: BSD-2-Clause-Patent
// The test build's board: before the kit runs, the virtual board's driver
// (vboard.efi at the root of the kit's volume) is loaded and started, as a real
// board's firmware would have started its own service. Never in the shipped
// kit.
#include "runtime/efi_file_system.h"
#include "runtime/efi_globals.h"
#include "runtime/efi_loaded_image.h"
#include "runtime/efi_shell.h"

namespace {

// The driver's device path: the kit's device, then "\vboard.efi", so that
// the driver finds its board files on the volume it came from.
EFI_DEVICE_PATH_PROTOCOL* DriverPath() {
  void* interface = nullptr;
  if (EfiError(gBS->HandleProtocol(gImageHandle, &kLoadedImageProtocolGuid, &interface))) return nullptr;
  EFI_HANDLE device = static_cast<EFI_LOADED_IMAGE_HEAD*>(interface)->DeviceHandle;
  if (EfiError(gBS->HandleProtocol(device, &kDevicePathProtocolGuid, &interface))) return nullptr;
  auto* start = static_cast<uint8_t*>(interface);
  UINTN length = 0;
  while (start[length] != kDevicePathEnd) length += start[length + 2] | start[length + 3] << 8;
  constexpr CHAR16 kName[] = u"\\vboard.efi";
  constexpr UINTN kNodeLength = 4 + sizeof kName;
  void* block = nullptr;
  if (EfiError(gBS->AllocatePool(EfiLoaderData, length + kNodeLength + 4, &block))) return nullptr;
  auto* path = static_cast<uint8_t*>(block);
  gBS->CopyMem(path, start, length);
  uint8_t* node = path + length;
  node[0] = kDevicePathMedia;
  node[1] = kDevicePathMediaFilePath;
  node[2] = kNodeLength & 0xFF;
  node[3] = kNodeLength >> 8;
  gBS->CopyMem(node + 4, kName, sizeof kName);
  uint8_t* end = node + kNodeLength;
  end[0] = kDevicePathEnd;
  end[1] = 0xFF;
  end[2] = 4;
  end[3] = 0;
  return static_cast<EFI_DEVICE_PATH_PROTOCOL*>(block);
}

}  // namespace

void PrepareBoard() {
  EFI_DEVICE_PATH_PROTOCOL* path = DriverPath();
  EFI_HANDLE driver = nullptr;
  if (path == nullptr || EfiError(gBS->LoadImage(0, gImageHandle, path, nullptr, 0, &driver)) ||
      EfiError(gBS->StartImage(driver, nullptr, nullptr)))
    gST->ConOut->OutputString(gST->ConOut, u"Test kit: vboard.efi did not start\r\n");
  if (path != nullptr) gBS->FreePool(path);
}
