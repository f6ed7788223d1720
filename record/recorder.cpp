// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/recorder.h"

#include "firmware/cache_control.h"
#include "firmware/pool.h"
#include "record/board_json.h"
#include "record/board_probe.h"
#include "record/chip_capture.h"
#include "record/record_files.h"
#include "record/room_check.h"
#include "runtime/efi_globals.h"
#include "runtime/print.h"

namespace {

const char* ChipSelectLine(const BoardRecord& record) {
  switch (record.ChipSelect) {
    case ChipSelectMode::Present: return "present";
    case ChipSelectMode::Absent: return "absent: one chip is recorded as both";
    case ChipSelectMode::Unsupported: return "unsupported: one chip is recorded as both";
  }
  return "";
}

const char* MailboxLine(MailboxMode kind) {
  switch (kind) {
    case MailboxMode::Qvt: return "$QVT";
    case MailboxMode::Qv1: return "$QV1";
    case MailboxMode::None: break;
  }
  return "none: only the flash window from 0xFF000000 is recorded";
}

const char* SwitchLine(const BoardRecord& record) {
  if (!record.SwitchTested) return "not tried";
  switch (record.Switch) {
    case SwitchMode::Ok: return "ok";
    case SwitchMode::Stuck: return "stuck";
    case SwitchMode::IgnoreMain: return "ignores Main";
    case SwitchMode::IgnoreBackup: return "ignores Backup";
  }
  return "not tried";
}

// What does not depend on the active chip. The MTRRs come first, before the
// cache override may take pair 9.
bool ProbeBoard(BoardRecord* record) {
  ProbeMtrrs(&record->Mtrr);
  Print("MTRRs ........................... %d variable pairs, %d address bits\n",
        static_cast<int>(record->Mtrr.VariablePairs), static_cast<int>(record->Mtrr.PhysAddressBits));
  if (!ProbePciFunctions(record)) {
    Print("%s\n", "Memory allocation error!");
    return false;
  }
  Print("PCI functions ................... %d\n", static_cast<int>(record->PciCount));
  ProbeAcpi(record);
  if (record->Acpi == AcpiMode::Present)
    Print("ACPI FADT ....................... SMI port 0x%x\n", static_cast<unsigned>(record->SmiPort));
  else
    Print("ACPI FADT ....................... %s\n", record->Acpi == AcpiMode::Absent ? "no ACPI tables" : "none");
  ProbeChipSelect(record);
  Print("Chip select ..................... %s\n", ChipSelectLine(*record));
  if (record->ChipSelect != ChipSelectMode::Absent)
    Print("Start-up BIOS position .......... %s (%d)\n",
          record->Active == 1   ? "BACKUP"
          : record->Active == 0 ? "MAIN"
                                : "neither chip",
          static_cast<int>(record->Active));
  ApplyFlashWindowCacheOverride();
  // Without the board's chip select the flash SMI number may belong to
  // another vendor's handler: the utility never sends it there, nor does this.
  if (record->ChipSelect != ChipSelectMode::Present) {
    record->Mailbox = MailboxMode::None;
    Print("Flash mailbox ................... %s\n",
          "not probed without a chip select: only the flash window from 0xFF000000 is recorded");
    return true;
  }
  ProbeMailbox(record);
  Print("Flash mailbox ................... %s\n", MailboxLine(record->Mailbox));
  return true;
}

bool IsRoomOption(const char* argument) {
  const char* expected = "/room";
  for (; *expected != '\0'; ++argument, ++expected) {
    char c = *argument;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *expected) return false;
  }
  return *argument == '\0';
}

void PrintSummary(const BoardRecord& record) {
  Print("Board recorded in %s: Main %d bytes, Backup %d bytes, switch %s\n", kRecordFolder,
        static_cast<int>(record.Chips[0].FlashSize), static_cast<int>(record.Chips[1].FlashSize), SwitchLine(record));
}

bool WriteRecord(const BoardRecord& record) {
  TextBuffer json;
  if (!AllocateTextBuffer(&json, BoardJsonCapacity(record))) {
    Print("%s\n", "Memory allocation error!");
    return false;
  }
  WriteBoardJson(record, &json);
  bool written = !json.Overflow && WriteRecordFiles(record, json);
  ReleaseTextBuffer(&json);
  return written;
}

// 128 when the record is written and the start-up chip is active again.
ExitStatus Record(BoardRecord* record) {
  bool restored = true;
  bool captured = ProbeBoard(record) && CaptureChips(record, &restored);
  Print("\n");
  bool written = captured && WriteRecord(*record);
  if (!written) {
    Print("%s\n", "!!! Fail to record the board !!!");
    return ExitStatus::NotSupported;
  }
  // What could be read is kept; a record without a chip is still a failure.
  bool complete = true;
  for (const ChipRecord& chip : record->Chips) {
    if (!chip.Unreachable) continue;
    complete = false;
    Print("!!! Board recorded without %s BIOS: the switch to it did not take effect !!!\n",
          &chip == &record->Chips[0] ? "Main" : "Backup");
  }
  if (!restored) Print("%s\n", "!!! Board recorded, but the start-up BIOS position could not be restored !!!");
  if (!complete || !restored) return ExitStatus::NotSupported;
  PrintSummary(*record);
  return ExitStatus::Success;
}

}  // namespace

int RecordBoardMain(int argc, char** argv) {
  // Reading and writing two whole chips outlasts the firmware's watchdog.
  gBS->SetWatchdogTimer(0, 0, 0, nullptr);
  // The room check is one line on the kit's screen, without the banner.
  if (argc == 2 && IsRoomOption(argv[1])) return static_cast<int>(CheckRoomForEvidence());
  Print("Pellrix board recorder\n\n");
  if (argc > 1) {
    Print(
        "Usage: pellrix-record [/room]\n  Records this board into %s in the current directory.\n"
        "  /room: says whether the current directory has room for the evidence of a failed comparison\n"
        "  (both chips saved and a record), 128 when it has, 130 when it has not.\n",
        kRecordFolder);
    return static_cast<int>(ExitStatus::InvalidCommand);
  }
  auto* record = static_cast<BoardRecord*>(AllocateZeroed(sizeof(BoardRecord)));
  if (record == nullptr) {
    Print("%s\n%s\n", "Memory allocation error!", "!!! Fail to record the board !!!");
    return static_cast<int>(ExitStatus::NotSupported);
  }
  ExitStatus status = Record(record);
  ReleaseChipImages(record);
  ReleasePool(record->Pci);
  ReleasePool(record);
  return static_cast<int>(status);
}
