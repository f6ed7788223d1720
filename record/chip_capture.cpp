#include "record/chip_capture.h"

#include "firmware/chip_select.h"
#include "firmware/cpu/flash_window.h"
#include "firmware/flash_reader.h"
#include "firmware/mailbox.h"
#include "firmware/pool.h"
#include "runtime/memory.h"
#include "runtime/print.h"

namespace {

constexpr unsigned kMain = 0;
constexpr unsigned kBackup = 1;
// Without a mailbox nothing says where the BIOS region starts: the part of it
// that the window may be read from is all there is.
constexpr uint32_t kWindowOnlyPartSize = 0u - kFlashDecodeFloor;
constexpr uint32_t kWindowOnlyBlockSize = 4096;

const char* ChipName(unsigned slot) { return slot == kMain ? "Main" : "Backup"; }

// The geometry of the active chip: the mailbox's, or the decoded window.
bool TakeGeometry(ChipRecord* chip, MailboxKind mailbox) {
  if (mailbox == MailboxKind::None) {
    chip->FlashSize = kWindowOnlyPartSize;
    chip->BiosSize = kWindowOnlyPartSize;
    chip->BlockSize = kWindowOnlyBlockSize;
    return true;
  }
  FlashGeometry geometry = {};
  if (EfiError(QueryFlashMailbox(geometry.PartInfo, &geometry.FlashSize, &geometry.BiosSize, &geometry.BlockSize)))
    return false;
  chip->FlashSize = geometry.FlashSize;
  chip->BiosSize = geometry.BiosSize;
  chip->BlockSize = geometry.BlockSize;
  chip->HasPartName = true;
  memcpy(chip->PartName, geometry.PartName, kPartNameSize);
  chip->PartName[kPartNameSize] = '\0';
  return chip->FlashSize != 0 && chip->BlockSize != 0 && chip->BiosSize != 0;
}

// The whole part of the active chip, from flash offset 0, through the reader
// with this chip's own geometry.
bool CaptureActiveChip(ChipRecord* chip, MailboxKind mailbox, const char* caption) {
  if (!TakeGeometry(chip, mailbox)) {
    Print("!!! Invalid onboard BIOS !!!\n");
    return false;
  }
  gTool.ReaderGeometry.FlashSize = chip->FlashSize;
  gTool.ReaderGeometry.BiosSize = chip->BiosSize;
  gTool.ReaderGeometry.BlockSize = chip->BlockSize;
  // The reader moves whole blocks: room up to the next block boundary.
  uint64_t bufferSize = chip->FlashSize;
  if (bufferSize % chip->BlockSize != 0) bufferSize += chip->BlockSize - bufferSize % chip->BlockSize;
  chip->Image = static_cast<uint8_t*>(AllocateErased(bufferSize));
  if (chip->Image == nullptr) {
    Print("%s\n", "Memory allocation error!");
    return false;
  }
  return !EfiError(ReadFlashRegionInto(chip->Image, bufferSize, 0, chip->FlashSize, caption));
}

bool SwitchTo(unsigned slot) {
  bool moved = SetChipPosition(static_cast<ChipPosition>(slot)) == kEfiSuccess;
  if (moved)
    Print("%s", slot == kMain ? "Switch to Main BIOS ............. Ok\n" : "Switch to Backup BIOS ........... Ok\n");
  else
    Print("%s", slot == kMain ? "!! Unable to switch to Main BIOS !!\n" : "!! Unable to switch to Backup BIOS !!\n");
  return moved;
}

// The start-up chip again, on every road once a switch was asked for.
bool RestoreStartupChip(uint8_t startup) {
  if (RawChip(GetChipPosition()) == startup) return true;
  bool restored = SetChipPosition(static_cast<ChipPosition>(startup)) == kEfiSuccess;
  Print("%s", restored ? "Restore BIOS position ........... Ok\n" : "!! Unable to restore BIOS position !!\n");
  return restored;
}

const char* ReadCaption(unsigned slot) {
  return slot == kMain ? "Reading Main BIOS ............... " : "Reading Backup BIOS ............. ";
}

// One readable chip stands for both: the board cannot switch, so a replay
// never reads the other.
void CopyChip(BoardRecord* record, unsigned from) {
  unsigned to = from ^ 1;
  record->Chips[to] = record->Chips[from];
  Print("%s BIOS not readable: recorded as a copy of %s BIOS\n", ChipName(to), ChipName(from));
}

bool CaptureOneChip(BoardRecord* record) {
  if (!CaptureActiveChip(&record->Chips[kMain], record->Mailbox, "Reading BIOS from flash ROM ..... ")) return false;
  record->Chips[kBackup] = record->Chips[kMain];
  return true;
}

}  // namespace

bool CaptureChips(BoardRecord* record, bool* restored) {
  *restored = true;
  uint8_t startup = record->Active;
  bool switchable = record->ChipSelect == ChipSelectState::Present && (startup == kMain || startup == kBackup);
  record->Switch = SwitchBehaviour::Untested;
  if (!switchable) return CaptureOneChip(record);

  unsigned first = startup;
  unsigned other = first ^ 1;
  bool captured = CaptureActiveChip(&record->Chips[first], record->Mailbox, ReadCaption(first));
  bool moved = captured && SwitchTo(other);
  if (captured && moved) captured = CaptureActiveChip(&record->Chips[other], record->Mailbox, ReadCaption(other));
  *restored = RestoreStartupChip(startup);
  if (!captured) return false;

  // A direction counts only when it was asked to move the chip. A board that
  // does not leave the start-up chip behaves as stuck from there, whichever
  // direction it ignores.
  if (!moved)
    record->Switch = SwitchBehaviour::Stuck;
  else if (!*restored)
    record->Switch = startup == kMain ? SwitchBehaviour::IgnoreMain : SwitchBehaviour::IgnoreBackup;
  else
    record->Switch = SwitchBehaviour::Ok;
  if (!moved) CopyChip(record, first);
  return true;
}

void ReleaseChipImages(BoardRecord* record) {
  uint8_t* main = record->Chips[kMain].Image;
  uint8_t* backup = record->Chips[kBackup].Image;
  ReleasePool(main);
  if (backup != main) ReleasePool(backup);
  record->Chips[kMain].Image = nullptr;
  record->Chips[kBackup].Image = nullptr;
}
