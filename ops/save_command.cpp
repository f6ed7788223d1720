// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "ops/save_command.h"

#include "firmware/chip_position.h"
#include "firmware/tool_state.h"
#include "firmware/cache_control.h"
#include "firmware/chip_select.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/flash_reader.h"
#include "firmware/mailbox.h"
#include "firmware/pool.h"
#include "image/bios_info.h"
#include "image/checksums.h"
#include "image/descriptor_locator.h"
#include "runtime/efi_globals.h"
#include "runtime/file_replace.h"
#include "runtime/memory.h"
#include "runtime/print.h"

namespace {

constexpr const char* kReadCaption = "Reading BIOS from flash ROM ..... ";
constexpr const char* kWriteCaption = "Writing BIOS to disk ............ ";
constexpr const char* kSaveFailure = "!!! Fail to save BIOS !!!";

void PrintSaveFailure() { Print("%s\n", kSaveFailure); }

// The UTF-16 success caption goes through the console's own text output.
void PrintSavedMessage(const char* fileName) {
  static const CHAR16 kSaved[] = u"BIOS successfully saved ......... ";
  gST->ConOut->OutputString(gST->ConOut, kSaved);
  Print("%s\n", fileName);
}

bool FillReaderGeometry() {
  FlashGeometry& geometry = gTool.ReaderGeometry;
  if (geometry.FlashSize == 0) QueryFlashMailbox(nullptr, &geometry.FlashSize, &geometry.BiosSize, &geometry.BlockSize);
  if (geometry.BlockSize == 0) QueryFlashMailbox(nullptr, &geometry.FlashSize, &geometry.BiosSize, &geometry.BlockSize);
  return geometry.FlashSize != 0 && geometry.BlockSize != 0;
}

// True when the top block of the window equals the buffer's last block, which
// is still all 0xFF: the window shows an erased part. Only the part of the
// block in the flash decode is looked at.
bool TopBlockIsErased(const uint8_t* buffer, uint64_t bufferSize, uint32_t blockSize) {
  uint8_t chunk[256];
  uint32_t address = 0u - blockSize;
  if (address < kFlashDecodeFloor) address = kFlashDecodeFloor;
  uint32_t length = 0u - address;
  const uint8_t* expected = buffer + bufferSize - length;
  for (uint32_t done = 0; done < length;) {
    uint32_t count = length - done < sizeof chunk ? length - done : static_cast<uint32_t>(sizeof chunk);
    ReadFlashWindow(address + done, chunk, count);
    if (memcmp(chunk, expected + done, count) != 0) return false;
    done += count;
  }
  return true;
}

void ReportChecksums(uint8_t* image, uint32_t flashSize) {
  auto* record = static_cast<BiosInfo*>(AllocateZeroed(sizeof(BiosInfo)));
  // Without the record there is nothing to report; the save goes on.
  if (record == nullptr) return;
  record->Image = image;
  record->ImageSize = flashSize;
  if (LocateDescriptor(record) == kEfiSuccess && VerifyDescriptorChecksums(image, flashSize, record->Descriptor))
    Print("BIOS checksum ................... ok\n");
  ReleasePool(record);
}

// Everything after the buffer is filled with 0xFF: the top-block test, the
// read, the checksum report and the file. The new file is removed again on
// every failure, so an earlier file is never lost or cut short.
bool WriteImageFile(uint8_t* image, uint64_t bufferSize, uint32_t flashSize, uint32_t blockSize,
                    const SafeFileNames& names) {
  if (TopBlockIsErased(image, bufferSize, blockSize)) return false;
  // Refused before anything is created, so the directory stays as it was.
  if (!NamesHoldNoFolder(names) || !VolumeHasRoomFor(flashSize)) return false;
  FileStream* stream = OpenFileStream(names.Fresh, "wb");
  if (stream == nullptr) return false;
  bool saved = !EfiError(ReadFlashRegionInto(image, bufferSize, 0, flashSize, kReadCaption));
  if (saved) {
    ReportChecksums(image, flashSize);
    saved = WriteInChunks(stream, image, flashSize, blockSize, kWriteCaption);
    Print("\n");
  }
  saved = CloseFileStream(stream) && saved;
  saved = saved && ReplaceWithNewFile(names);
  if (!saved) RemoveFile(names.Fresh);
  return saved;
}

}  // namespace

bool SaveBiosImage(const char* fileName) {
  if (!FillReaderGeometry()) {
    Print("!!! Invalid onboard BIOS !!!\n");
    return false;
  }
  uint32_t flashSize = gTool.ReaderGeometry.FlashSize;
  uint32_t blockSize = gTool.ReaderGeometry.BlockSize;
  uint64_t bufferSize = 0;
  uint8_t* image = AllocateWholePart(flashSize, blockSize, &bufferSize);
  bool saved = image != nullptr && WriteImageFile(image, bufferSize, flashSize, blockSize, SafeNamesFor(fileName));
  if (saved)
    PrintSavedMessage(fileName);
  else
    PrintSaveFailure();
  ReleasePool(image);
  return saved;
}

void RunSaveCommand() {
  ApplyFlashWindowCacheOverride();
  bool backup = gTool.Selection == ChipPosition::Backup;
  const char* fileName = backup ? "BACKUP.BIN" : "MAIN.BIN";

  ShowBiosPosition("Current");
  Print("\n");
  ChipPosition target = backup ? ChipPosition::Backup : ChipPosition::Main;
  if (GetChipPosition() != target) {
    if (SetChipPosition(target) != kEfiSuccess) {
      SetExitStatus(ExitStatus::SwitchFailed);
      Print("%s", SwitchFailedLine(target));
      return;
    }
    Print("%s", SwitchedLine(target));
  }
  // A save that did not put a complete file in place is a failure.
  if (!SaveBiosImage(fileName)) SetExitStatus(ExitStatus::NotSupported);
  ReportFailedRestore(RestoreBiosPosition(true));
}
