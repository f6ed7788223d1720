#include "ops/save_command.h"

#include "app/position_commands.h"
#include "app/tool_state.h"
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
#include "runtime/file_stream.h"
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

// True when the top `blockSize` bytes of the window equal the buffer's last
// block, which is still all 0xFF: the window shows an erased part.
bool TopBlockIsErased(const uint8_t* buffer, uint64_t bufferSize, uint32_t blockSize) {
  uint8_t chunk[256];
  const uint8_t* expected = buffer + bufferSize - blockSize;
  uint32_t address = 0u - blockSize;
  for (uint32_t done = 0; done < blockSize;) {
    uint32_t count = blockSize - done < sizeof chunk ? blockSize - done : static_cast<uint32_t>(sizeof chunk);
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

// Writes exactly `flashSize` bytes in block-sized chunks; false when any
// chunk did not reach the file whole.
bool WriteImage(FileStream* stream, const uint8_t* image, uint32_t flashSize, uint32_t blockSize) {
  bool complete = true;
  for (uint64_t k = 0; k * blockSize < flashSize; ++k) {
    uint64_t offset = k * blockSize;
    uint64_t count = flashSize - offset < blockSize ? flashSize - offset : blockSize;
    if (WriteFileStream(stream, image + offset, count) != count) complete = false;
    uint64_t percent = (k + 1) * blockSize * 100 / flashSize;
    Print("%c%s%d%%", 13, kWriteCaption, static_cast<int>(percent));
  }
  return complete;
}

}  // namespace

void SaveBiosImage(const char* fileName) {
  if (!FillReaderGeometry()) {
    Print("!!! Invalid onboard BIOS !!!\n");
    return;
  }
  uint32_t flashSize = gTool.ReaderGeometry.FlashSize;
  uint32_t blockSize = gTool.ReaderGeometry.BlockSize;
  // The reader moves whole blocks: room up to the next block boundary.
  uint64_t bufferSize = flashSize;
  if (bufferSize % blockSize != 0) bufferSize += blockSize - bufferSize % blockSize;
  auto* image = static_cast<uint8_t*>(AllocateErased(bufferSize));
  if (image == nullptr) {
    PrintSaveFailure();
    return;
  }
  if (TopBlockIsErased(image, bufferSize, blockSize)) {
    PrintSaveFailure();
    ReleasePool(image);
    return;
  }
  FileStream* stream = OpenFileStream(fileName, "wb");
  if (stream == nullptr) {
    PrintSaveFailure();
    ReleasePool(image);
    return;
  }
  if (EfiError(ReadFlashRegionInto(image, bufferSize, 0, flashSize, kReadCaption))) {
    PrintSaveFailure();
    CloseFileStream(stream);
    ReleasePool(image);
    return;
  }
  ReportChecksums(image, flashSize);
  bool written = WriteImage(stream, image, flashSize, blockSize);
  Print("\n");
  bool closed = CloseFileStream(stream);
  if (written && closed)
    PrintSavedMessage(fileName);
  else
    PrintSaveFailure();
  ReleasePool(image);
}

void RunSaveCommand() {
  ApplyFlashWindowCacheOverride();
  bool backup = gTool.selection == ChipPosition::Backup;
  char fileName[16];
  const char* name = backup ? "BACKUP.BIN" : "MAIN.BIN";
  unsigned length = 0;
  for (; name[length] != '\0'; ++length) fileName[length] = name[length];
  fileName[length] = '\0';

  ShowBiosPosition("Current");
  Print("\n");
  ChipPosition target = backup ? ChipPosition::Backup : ChipPosition::Main;
  if (GetChipPosition() != target) {
    if (SetChipPosition(target) != kEfiSuccess) {
      SetExitStatus(ExitStatus::SwitchFailed);
      Print("%s", backup ? "!! Unable to switch to Backup BIOS !!\n" : "!! Unable to switch to Main BIOS !!\n");
      return;
    }
    Print("%s", backup ? "Switch to Backup BIOS ........... Ok\n" : "Switch to Main BIOS ............. Ok\n");
  }
  SaveBiosImage(fileName);
  RestoreBiosPosition(1);
}
