// SPDX-License-Identifier: BSD-2-Clause-Patent
// vboard.efi: a boot-service driver that brings a simulated dual-chip board
// into the real firmware. It reads the board (VBOARD.BIN and the two chip
// images) from the directory it was loaded from, runs it on the same board
// model as pellrix-sim, and installs the board's chip-select protocol and the
// private protocol through which pellrix-vboard.efi reaches the SMI handler
// and the flash window; it shows the program the board's ACPI tables and
// makes its listed pool allocations fail (firmware_view.h). The board stays resident until reset, so its active
// chip carries over from one program run to the next.
//
// The chip-select members are called without the interface pointer, so the
// board lives in this file's globals.
#include "runtime/efi.h"
#include "runtime/memory.h"
#include "sim/board_model.h"
#include "sim/vboard/efi_media.h"
#include "sim/vboard/firmware_view.h"
#include "sim/vboard/vboard_check.h"
#include "sim/vboard/vboard_file.h"
#include "firmware/cpu/vboard/vboard_protocol.h"
#include "runtime/efi_shell.h"
#include "firmware/chip_select_protocol.h"

namespace {

EFI_SYSTEM_TABLE* systemTable = nullptr;
EFI_BOOT_SERVICES* bootServices = nullptr;

sim::BoardEvents boardEvents;
sim::BoardModel board{};

BOOLEAN EFIAPI IsSupported() { return sim::ModelIsSupported(board); }
uint8_t EFIAPI GetActiveChip() { return board.active; }
void EFIAPI SetActiveChip(uint8_t chip) { sim::ModelSetActiveChip(board, chip); }

// A request naming memory the board must not write is counted and dropped.
bool DestinationAllowed(void*, uint64_t address, uint32_t count) {
  return vboard::MailboxDestinationAllowed(board, address, count);
}

void EFIAPI TakeSmi(uint16_t port, uint8_t commandByte, void* buffer) {
  sim::ModelTakeSmi(board, port, commandByte, buffer);
}
void EFIAPI ReadWindow(uint32_t address, void* destination, uint32_t count) {
  sim::ModelReadWindow(board, address, destination, count);
}
uint8_t EFIAPI ActiveChip() { return board.active; }

ChipSelectProtocol chipSelectProtocol = {{}, IsSupported, GetActiveChip, SetActiveChip};
VboardProtocol vboardProtocol = {kVboardProtocolRevision, 0, TakeSmi, ReadWindow, ActiveChip};

// --- Messages ------------------------------------------------------------------

void Say(const char* text, const char* detail = nullptr) {
  CHAR16 line[160];
  unsigned length = 0;
  auto append = [&](const char* part) {
    for (; part != nullptr && *part != '\0' && length + 3 < sizeof line / sizeof line[0]; ++part)
      line[length++] = static_cast<CHAR16>(static_cast<uint8_t>(*part));
  };
  append("vboard: ");
  append(text);
  append(detail);
  line[length++] = u'\r';
  line[length++] = u'\n';
  line[length] = 0;
  systemTable->ConOut->OutputString(systemTable->ConOut, line);
}

// --- Files -----------------------------------------------------------------------

constexpr unsigned kPathCapacity = 260;

struct Directory {
  EFI_FILE_PROTOCOL* root;
  CHAR16 path[kPathCapacity];  // ends in a backslash
  unsigned length;
};

// The directory part of the driver's own file path: the media file-path
// nodes of its device path joined, up to and including the last backslash.
void DirectoryOfImage(const void* devicePath, Directory* directory) {
  directory->length = 0;
  auto* node = static_cast<const uint8_t*>(devicePath);
  while (node != nullptr) {
    EFI_DEVICE_PATH_PROTOCOL header;
    memcpy(&header, node, sizeof header);
    unsigned nodeLength = header.Length[0] | header.Length[1] << 8;
    if (header.Type == kDevicePathEnd || nodeLength < sizeof header) break;
    if (header.Type == kDevicePathMedia && header.SubType == kDevicePathMediaFilePath) {
      for (unsigned offset = sizeof header; offset + 1 < nodeLength; offset += 2) {
        CHAR16 character = static_cast<CHAR16>(node[offset] | node[offset + 1] << 8);
        if (character == 0) break;
        if (character == u'\\' && directory->length > 0 && directory->path[directory->length - 1] == u'\\') continue;
        if (directory->length + 1 < kPathCapacity) directory->path[directory->length++] = character;
      }
    }
    node += nodeLength;
  }
  while (directory->length > 0 && directory->path[directory->length - 1] != u'\\') --directory->length;
  if (directory->length == 0) directory->path[directory->length++] = u'\\';
}

EFI_FILE_PROTOCOL* OpenInDirectory(const Directory& directory, const char* name) {
  CHAR16 path[kPathCapacity];
  unsigned length = 0;
  for (; length < directory.length; ++length) path[length] = directory.path[length];
  for (; *name != '\0' && length + 1 < kPathCapacity; ++name) path[length++] = static_cast<CHAR16>(*name);
  path[length] = 0;
  EFI_FILE_PROTOCOL* file = nullptr;
  if (EfiError(directory.root->Open(directory.root, &file, path, kEfiFileModeRead, 0))) return nullptr;
  return file;
}

// Reads exactly `size` bytes; the file must hold no more than that.
bool ReadExactly(EFI_FILE_PROTOCOL* file, void* buffer, uint64_t size) {
  constexpr uint64_t kChunk = 1u << 20;
  auto* out = static_cast<uint8_t*>(buffer);
  for (uint64_t done = 0; done < size;) {
    UINTN count = size - done < kChunk ? size - done : kChunk;
    if (EfiError(file->Read(file, &count, out + done)) || count == 0) return false;
    done += count;
  }
  uint8_t extra = 0;
  UINTN count = 1;
  return !EfiError(file->Read(file, &count, &extra)) && count == 0;
}

// The record has passed BoardFileProblem.
bool LoadChip(const Directory& directory, const vboard::ChipRecord& record, sim::ModelChip* chip) {
  EFI_FILE_PROTOCOL* file = OpenInDirectory(directory, record.image_file);
  if (file == nullptr) {
    Say("cannot open ", record.image_file);
    return false;
  }
  void* image = nullptr;
  if (record.image_size != 0 &&
      (EfiError(bootServices->AllocatePool(EfiBootServicesData, record.image_size, &image)) || image == nullptr)) {
    file->Close(file);
    Say("no memory for ", record.image_file);
    return false;
  }
  bool read = ReadExactly(file, image, record.image_size);
  file->Close(file);
  if (!read) {
    if (image != nullptr) bootServices->FreePool(image);
    Say("size or read error in ", record.image_file);
    return false;
  }
  chip->image = static_cast<const uint8_t*>(image);
  chip->image_size = record.image_size;
  chip->flash_size = record.flash_size;
  chip->bios_size = record.bios_size;
  chip->block_size = record.block_size;
  chip->window_bytes = record.window_bytes;
  memcpy(chip->part_name, record.part_name, sizeof chip->part_name);
  return true;
}

bool LoadBoard(EFI_HANDLE imageHandle, vboard::BoardFile* header) {
  void* interface = nullptr;
  if (EfiError(bootServices->HandleProtocol(imageHandle, &kLoadedImageProtocolGuid, &interface)) ||
      interface == nullptr) {
    Say("no loaded-image protocol");
    return false;
  }
  auto* loadedImage = static_cast<EFI_LOADED_IMAGE_PROTOCOL*>(interface);
  interface = nullptr;
  if (EfiError(bootServices->HandleProtocol(loadedImage->DeviceHandle, &kSimpleFileSystemProtocolGuid, &interface)) ||
      interface == nullptr) {
    Say("the drive the driver came from has no file system");
    return false;
  }
  auto* fileSystem = static_cast<EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*>(interface);
  Directory directory{};
  if (EfiError(fileSystem->OpenVolume(fileSystem, &directory.root)) || directory.root == nullptr) {
    Say("cannot open the volume");
    return false;
  }
  DirectoryOfImage(loadedImage->FilePath, &directory);

  bool loaded = false;
  EFI_FILE_PROTOCOL* file = OpenInDirectory(directory, vboard::kBoardFileName);
  if (file == nullptr) {
    Say("cannot open ", vboard::kBoardFileName);
  } else {
    bool read = ReadExactly(file, header, sizeof *header);
    file->Close(file);
    const char* problem = read ? vboard::BoardFileProblem(*header) : "not a board file of this version: ";
    if (problem != nullptr)
      Say(problem, vboard::kBoardFileName);
    else
      loaded = LoadChip(directory, header->chips[0], &board.chips[0]) &&
               LoadChip(directory, header->chips[1], &board.chips[1]);
  }
  directory.root->Close(directory.root);
  return loaded;
}

void FreeImages() {
  for (sim::ModelChip& chip : board.chips)
    if (chip.image != nullptr) bootServices->FreePool(const_cast<uint8_t*>(chip.image));
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* table) {
  systemTable = table;
  bootServices = table->BootServices;

  vboard::BoardFile header{};
  if (!LoadBoard(imageHandle, &header)) {
    FreeImages();
    return kEfiNotFound;
  }
  vboard::SetModesFromBoardFile(header, &board);
  board.events = &boardEvents;
  board.dma_allowed = DestinationAllowed;

  auto install = reinterpret_cast<EFI_INSTALL_PROTOCOL_INTERFACE>(bootServices->InstallProtocolInterface);
  EFI_HANDLE handle = imageHandle;
  EFI_STATUS status = install(&handle, &kVboardProtocolGuid, kEfiNativeInterface, &vboardProtocol);
  if (!EfiError(status) && header.chip_select == vboard::kChipSelectPresent) {
    status = install(&handle, &kChipSelectProtocolGuid, kEfiNativeInterface, &chipSelectProtocol);
    // The image is unloaded on failure: nothing may point into it.
    if (EfiError(status))
      reinterpret_cast<EFI_UNINSTALL_PROTOCOL_INTERFACE>(bootServices->UninstallProtocolInterface)(
          handle, &kVboardProtocolGuid, &vboardProtocol);
  }
  if (EfiError(status)) {
    Say("cannot install the board's protocols");
    FreeImages();
    return status;
  }
  // The firmware answers as the board says from here on; what cannot be
  // made so leaves a board that must not be taken for the one described.
  const char* problem = vboard::InstallAcpiView(bootServices, static_cast<AcpiMode>(header.acpi), header.smi_port);
  if (problem == nullptr)
    problem = vboard::InstallAllocationFaults(bootServices, header.fail_alloc, header.fail_alloc_count);
  if (problem != nullptr) {
    // Nothing of the view was changed; the image is unloaded, so nothing may
    // point into it.
    Say(problem);
    auto uninstall = reinterpret_cast<EFI_UNINSTALL_PROTOCOL_INTERFACE>(bootServices->UninstallProtocolInterface);
    if (header.chip_select == vboard::kChipSelectPresent)
      uninstall(handle, &kChipSelectProtocolGuid, &chipSelectProtocol);
    uninstall(handle, &kVboardProtocolGuid, &vboardProtocol);
    FreeImages();
    return kEfiUnsupported;
  }
  return kEfiSuccess;
}
