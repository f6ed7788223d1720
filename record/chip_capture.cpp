// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/chip_capture.h"

#include "firmware/chip_position.h"
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
bool TakeGeometry(ChipRecord* chip, MailboxMode mailbox) {
  if (mailbox == MailboxMode::None) {
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
bool CaptureActiveChip(ChipRecord* chip, MailboxMode mailbox, const char* caption) {
  if (!TakeGeometry(chip, mailbox)) {
    Print("!!! Invalid onboard BIOS !!!\n");
    return false;
  }
  uint64_t bufferSize = 0;
  chip->Image = AllocateWholePart(chip->FlashSize, chip->BlockSize, &bufferSize);
  if (chip->Image == nullptr) {
    Print("%s\n", "Memory allocation error!");
    return false;
  }
  FlashGeometry geometry = {};
  geometry.FlashSize = chip->FlashSize;
  geometry.BiosSize = chip->BiosSize;
  geometry.BlockSize = chip->BlockSize;
  return !EfiError(ReadFlashRegionWith(geometry, chip->Image, bufferSize, 0, chip->FlashSize, caption));
}

bool SwitchTo(unsigned slot) {
  auto chip = static_cast<ChipPosition>(slot);
  bool moved = SetChipPosition(chip) == kEfiSuccess;
  Print("%s", moved ? SwitchedLine(chip) : SwitchFailedLine(chip));
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

// The chip the switch could not reach is not captured: nothing read while
// the other chip answered may stand for it.
void MarkUnreachable(BoardRecord* record, unsigned slot) {
  const ChipRecord& read = record->Chips[slot ^ 1];
  ChipRecord& chip = record->Chips[slot];
  chip = {};
  chip.FlashSize = read.FlashSize;
  chip.BiosSize = read.BiosSize;
  chip.BlockSize = read.BlockSize;
  chip.Unreachable = true;
  Print("%s BIOS not readable: the switch to it did not take effect; not recorded\n", ChipName(slot));
}

// Neither chip could be selected: the sizes recorded for both are what the
// mailbox reports for the chip that answers now, so that the replay is a
// whole board whose switch fails the same way.
void MarkBothUnreachable(BoardRecord* record) {
  ChipRecord answering = {};
  if (!TakeGeometry(&answering, record->Mailbox)) {
    answering.FlashSize = answering.BiosSize = kWindowOnlyPartSize;
    answering.BlockSize = kWindowOnlyBlockSize;
  }
  for (unsigned slot = kMain; slot <= kBackup; ++slot) {
    ChipRecord& chip = record->Chips[slot];
    chip = {};
    chip.FlashSize = answering.FlashSize;
    chip.BiosSize = answering.BiosSize;
    chip.BlockSize = answering.BlockSize;
    chip.Unreachable = true;
    Print("%s BIOS not readable: the switch to it did not take effect; not recorded\n", ChipName(slot));
  }
}

// A start-up position that names neither chip (2, 0x80, ...): which chip
// answers there is the board's secret, so each chip is read only once the
// switch has selected it, Main first as the comparison does, and the start-up
// position is requested again. A direction that never takes effect is the
// one the board ignores; neither is a stuck switch.
bool CaptureFromNeitherChip(BoardRecord* record, bool* restored) {
  uint8_t startup = record->Active;
  bool reached[2] = {};
  bool captured = true;
  for (unsigned slot = kMain; slot <= kBackup; ++slot) {
    reached[slot] = SwitchTo(slot);
    if (reached[slot]) captured = CaptureActiveChip(&record->Chips[slot], record->Mailbox, ReadCaption(slot));
    if (!captured) break;
  }
  if (captured && !reached[kMain] && !reached[kBackup]) MarkBothUnreachable(record);
  *restored = RestoreStartupChip(startup);
  if (!captured) return false;
  record->SwitchTested = true;
  if (reached[kMain] && reached[kBackup])
    record->Switch = SwitchMode::Ok;
  else if (reached[kMain])
    record->Switch = SwitchMode::IgnoreBackup;
  else if (reached[kBackup])
    record->Switch = SwitchMode::IgnoreMain;
  else
    record->Switch = SwitchMode::Stuck;
  if (reached[kMain] != reached[kBackup]) MarkUnreachable(record, reached[kMain] ? kBackup : kMain);
  return true;
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
  record->SwitchTested = false;
  if (record->ChipSelect != ChipSelectMode::Present) return CaptureOneChip(record);
  if (startup != kMain && startup != kBackup) return CaptureFromNeitherChip(record, restored);

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
  record->SwitchTested = true;
  if (!moved)
    record->Switch = SwitchMode::Stuck;
  else if (!*restored)
    record->Switch = startup == kMain ? SwitchMode::IgnoreMain : SwitchMode::IgnoreBackup;
  else
    record->Switch = SwitchMode::Ok;
  if (!moved) MarkUnreachable(record, other);
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
