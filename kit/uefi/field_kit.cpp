// SPDX-License-Identifier: BSD-2-Clause-Patent
// The field kit: one run of the comparison test on the board it boots on,
// the evidence of a failure kept in a new RUNnnn folder of its own volume,
// and a final screen whatever happened. The test, the saves and the record
// are the utility's and the recorder's own programs, called as the shell
// would call them; everything they print goes to the screen and the log.
#include "kit/uefi/field_kit.h"

#include "app/main.h"
#include "firmware/mailbox.h"
#include "firmware/pool.h"
#include "firmware/tool_state.h"
#include "ops/compare_command.h"
#include "kit/chip_causes.h"
#include "kit/final_screen.h"
#include "kit/kit_version.h"
#include "kit/result_text.h"
#include "kit/room_plan.h"
#include "kit/run_number.h"
#include "kit/stick_holdings.h"
#include "kit/uefi/firmware_services.h"
#include "record/board_probe.h"
#include "record/recorder.h"
#include "runtime/efi_globals.h"
#include "runtime/file_replace.h"
#include "runtime/print.h"
#include "runtime/volume_files.h"

namespace {

using Program = int (*)(int argc, char** argv);

// One program of the kit, with a marker line in the log before its console
// (the workstation's explain step finds the test's console by it).
uint32_t RunStep(Program program, const char* marker, const char* option = nullptr, const char* value = nullptr) {
  Print("== %s\n", marker);
  FlushVolumeLog();
  // The program may write into its argument strings, as into the shell's.
  char name[] = "pellrix.efi";
  char optionCopy[4] = {};
  char valueCopy[4] = {};
  for (unsigned i = 0; option != nullptr && option[i] != '\0' && i + 1 < sizeof optionCopy; ++i)
    optionCopy[i] = option[i];
  for (unsigned i = 0; value != nullptr && value[i] != '\0' && i + 1 < sizeof valueCopy; ++i) valueCopy[i] = value[i];
  char* argv[] = {name, optionCopy, valueCopy, nullptr};
  int argc = option == nullptr ? 1 : value == nullptr ? 2 : 3;
  argv[argc] = nullptr;
  ResetToolState();
  int status = program(argc, argv);
  FlushVolumeLog();
  return static_cast<uint32_t>(status);
}

int CompareMain(int argc, char** argv) { return pellrix::main(argc, argv); }

// The run's outcome, for the comparison's identity observer.
KitOutcome* gOutcome = nullptr;

// Copies printable characters of a descriptor field, up to `capacity` - 1.
void CopyField(char* out, unsigned capacity, const char* field, unsigned fieldSize) {
  unsigned length = 0;
  for (unsigned i = 0; i < fieldSize && field[i] != '\0' && length + 1 < capacity; ++i)
    out[length++] = field[i] >= 0x20 && field[i] < 0x7F ? field[i] : '?';
  out[length] = '\0';
}

// Main's identity names the board.
void NoteIdentity(int chipIndex, const BiosInfo& identity) {
  if (chipIndex != 0 || gOutcome == nullptr) return;
  CopyField(gOutcome->Model, sizeof gOutcome->Model, identity.ModelName, sizeof identity.ModelName);
  CopyField(gOutcome->Version, sizeof gOutcome->Version, identity.Version, sizeof identity.Version);
  CopyField(gOutcome->PartNumber, sizeof gOutcome->PartNumber, identity.PartNumber, sizeof identity.PartNumber);
}

void NoteEntry(void* context, const char* name) { NoteDirectoryEntry(static_cast<RunNumbering*>(context), name); }

// The flash part as the board's mailbox names it, and its size; the size is
// 0 when the board does not answer (no chip select, no mailbox).
uint64_t AskBoard(KitOutcome* outcome) {
  if (ProbeChipSelectMode() != ChipSelectMode::Present) {
    outcome->Answer = BoardAnswer::NoChipSelect;
    return 0;
  }
  uint8_t partArea[kPartAreaSize] = {};
  uint32_t flashSize = 0;
  uint32_t biosSize = 0;
  uint32_t blockSize = 0;
  if (EfiError(QueryFlashMailbox(partArea, &flashSize, &biosSize, &blockSize))) {
    outcome->Answer = BoardAnswer::NoMailbox;
    return 0;
  }
  unsigned length = 0;
  for (unsigned i = kPartInfoSize; i < kPartAreaSize && length + 1 < sizeof outcome->Board; ++i) {
    char c = static_cast<char>(partArea[i]);
    if (c == '\0') break;
    outcome->Board[length++] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  outcome->Board[length] = '\0';
  return flashSize;
}

// Without the part size, the largest part boards commonly carry.
constexpr uint64_t kLargestCommonPart = 32ull * 1024 * 1024;

// Takes the next run folder and opens its log; the outcome says what could
// not be done.
void TakeRunFolder(KitOutcome* outcome, uint64_t part) {
  RunNumbering numbering;
  ForEachRootEntry(NoteEntry, &numbering);
  int number = NextRunNumber(numbering);
  if (number == 0) {
    outcome->RunNumbersExhausted = true;
    Print("No run number left (RUN999 is taken): nothing will be kept.\n");
    Print("The test runs all the same. Copy the RUN folders off and delete them.\n");
    return;
  }
  char folder[8];
  RunFolderName(number, folder);
  SetWorkingFolder("");
  if (!CreateFolder(folder)) {
    outcome->FolderFailed = true;
    Print("Cannot create %s (write-protected or full): nothing will be kept.\n", folder);
    return;
  }
  outcome->RunNumber = number;
  SetWorkingFolder(folder);
  if (!OpenVolumeLog("PELLRIX.LOG", KitLogBound(part))) {
    outcome->FolderFailed = true;
    Print("Cannot write to %s (write-protected or full): nothing will be kept.\n", folder);
    return;
  }
  SetConsoleCopy(AppendVolumeLog);
  Print("Run folder: %s\n", folder);
}

void PlanRoom(KitOutcome* outcome, uint64_t partBytes) {
  if (outcome->RunNumber == 0 || outcome->FolderFailed) {
    outcome->Plan = KeepPlan::Nothing;
    return;
  }
  uint64_t freeBytes = 0;
  uint32_t clusterBytes = 0;
  uint64_t part = partBytes != 0 ? partBytes : kLargestCommonPart;
  if (!QueryFreeSpace(&freeBytes, &clusterBytes)) {
    outcome->Plan = KeepPlan::Everything;
    Print("Room on the stick: not reported; a failure's evidence is tried whole.\n");
    return;
  }
  outcome->Plan = PlanWhatToKeep(freeBytes, clusterBytes, part);
  Print("Room on the stick: %d MiB free.\n", static_cast<int>(freeBytes >> 20));
  Print("A failure would keep %s.\n", KeepPlanText(outcome->Plan));
  if (outcome->Plan != KeepPlan::Everything)
    Print("!! Too little room for all the evidence: copy the RUN folders off, delete them.\n");
}

// RESULT.TXT is written aside, read back as the stick returns it, and only
// a file that holds exactly what was meant takes the final name.
void WriteResult(KitOutcome* outcome) {
  if (outcome->RunNumber == 0 || outcome->FolderFailed) return;
  TextLines text;
  ComposeResultText(*outcome, kKitVersion, &text);
  SafeFileNames names = SafeNamesFor("RESULT.TXT");
  bool written = false;
  if (FileStream* stream = OpenFileStream(names.Fresh, "wb")) {
    written = WriteFileStream(stream, text.Data, text.Length) == text.Length;
    written = CloseFileStream(stream) && written;
  }
  // One byte more than meant shows older bytes left after the new ones.
  static char readBack[sizeof text.Data + 1];
  uint64_t readLength = written ? ReadVolumeFile(names.Fresh, readBack, sizeof readBack) : 0;
  outcome->ResultFile = JudgeResultReadBack(written, text, readBack, readLength);
  if (outcome->ResultFile == ResultFileStep::Kept && !ReplaceWithNewFile(names))
    outcome->ResultFile = ResultFileStep::RenameFailed;
  if (outcome->ResultFile != ResultFileStep::Kept) {
    RemoveFile(names.Fresh);
    Print("!! RESULT.TXT %s.\n", outcome->ResultFile == ResultFileStep::ReadBackDiffers
                                     ? "read back differently from what was written"
                                     : "could not be written");
  }
}

// What the run folder holds now, as the stick lists it: the screen and
// RESULT.TXT say this, not what the steps meant to write.
void TakeStock(KitOutcome* outcome) {
  if (outcome->RunNumber == 0 || outcome->FolderFailed) return;
  FlushVolumeLog();
  outcome->Stock.LogWhole = VolumeLogWhole();
  VolumeFileSize("MAIN.BIN", &outcome->Stock.MainBytes);
  VolumeFileSize("BACKUP.BIN", &outcome->Stock.BackupBytes);
  outcome->Stock.RecordFolder = FolderExists("PELLRIX.REC");
}

// Why the kept chips differ, from their bytes as the stick returns them (the
// bytes the workstation will get): erased blocks or bit errors.
void JudgeKeptChips(KitOutcome* outcome) {
  const Holdings holdings = HoldingsOf(*outcome);
  if (!ChipsDiffer(outcome->Comparison) || holdings.Main != Held::Whole || holdings.Backup != Held::Whole) return;
  const uint64_t size = outcome->PartBytes;
  auto* main = static_cast<uint8_t*>(AllocateErased(size));
  auto* backup = static_cast<uint8_t*>(AllocateErased(size));
  if (main != nullptr && backup != nullptr && ReadVolumeFile("MAIN.BIN", main, size) == size &&
      ReadVolumeFile("BACKUP.BIN", backup, size) == size) {
    FlashCauses causes;
    FindFlashCauses(&causes, main, backup, size, 0);
    outcome->Cause = JudgeChipCauses(causes);
  } else {
    Print("!! The saved chips could not be read back to tell why they differ.\n");
  }
  ReleasePool(main);
  ReleasePool(backup);
}

uint8_t ChipOf(uint32_t positionStatus) {
  if (positionStatus == kStatusOnMain) return 0;
  if (positionStatus == kStatusOnBackup) return 1;
  return kChipUnknown;
}

}  // namespace

void RunFieldKit() {
  KitOutcome outcome;
  ClearTextScreen();
  Print("Pellrix field kit %s\n", kKitVersion);
  outcome.DateZone = FirmwareDateText(outcome.Date);
  SmbiosSerialText(outcome.Serial, sizeof outcome.Serial);
  outcome.SecureBoot = SecureBootIsOn();
  bool volume = OpenLoadedVolume();
  uint64_t partBytes = AskBoard(&outcome);
  outcome.PartBytes = partBytes;
  Print("Board: flash part %s, %d MiB\n", outcome.Board[0] != '\0' ? outcome.Board : "not reported",
        static_cast<int>(partBytes >> 20));
  Print("Date: %s   Secure Boot: %s\n", outcome.Date[0] != '\0' ? outcome.Date : "clock not set",
        outcome.SecureBoot ? "on" : "off");
  if (volume)
    TakeRunFolder(&outcome, partBytes != 0 ? partBytes : kLargestCommonPart);
  else
    Print("The kit's own volume cannot be read: nothing will be kept.\n");
  PlanRoom(&outcome, partBytes);

  Print("\nComparison test: reading both chips, then comparing them.\n");
  gOutcome = &outcome;
  SetIdentityObserver(NoteIdentity);
  outcome.Comparison = RunStep(CompareMain, "pellrix.efi");
  SetIdentityObserver(nullptr);
  outcome.StartupChip = RawChip(gTool.StartupChip) <= 1 ? RawChip(gTool.StartupChip) : kChipUnknown;
  // The position query reads no chip: it tells an unsupported board from a
  // comparison that stopped before reading.
  outcome.Position = RunStep(CompareMain, "pellrix.efi /p", "/p");
  if (outcome.Model[0] != '\0')
    Print("Board: %s, version %s, part number %s\n", outcome.Model, outcome.Version, outcome.PartNumber);
  if (VerdictOf(outcome) == KitVerdict::Fail && outcome.Plan >= KeepPlan::LogAndChips) {
    Print("The test failed: saving the Main chip.\n");
    outcome.SaveMain = RunStep(CompareMain, "pellrix.efi /s 1", "/s", "1");
    Print("Saving the Backup chip.\n");
    outcome.SaveBackup = RunStep(CompareMain, "pellrix.efi /s 2", "/s", "2");
    if (outcome.Plan == KeepPlan::Everything) {
      Print("Recording the board.\n");
      outcome.Record = RunStep(RecordBoardMain, "pellrix-record.efi");
    }
    outcome.Position = RunStep(CompareMain, "pellrix.efi /p", "/p");
  }
  outcome.ChipNow = ChipOf(outcome.Position);
  if (outcome.StartupChip == kChipUnknown) outcome.StartupChip = outcome.ChipNow;

  TakeStock(&outcome);
  JudgeKeptChips(&outcome);
  WriteResult(&outcome);
  FinalScreen screen;
  ComposeFinalScreen(outcome, &screen);
  AppendVolumeLog(screen.Text.Data, screen.Text.Length);
  SetConsoleCopy(nullptr);
  CloseVolumeLog();
  ShowFinalScreen(screen);
  WaitForKeyThenRestart();
}
