// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "ops/compare_command.h"

#include "firmware/chip_position.h"
#include "firmware/tool_state.h"
#include "firmware/cache_control.h"
#include "firmware/chip_select.h"
#include "firmware/flash_reader.h"
#include "firmware/mailbox.h"
#include "firmware/pool.h"
#include "image/bios_info.h"
#include "image/descriptor_locator.h"
#include "image/masking.h"
#include "firmware/window_locator.h"
#include "image/bounded_text.h"
#include "runtime/efi_globals.h"
#include "runtime/memory.h"
#include "runtime/print.h"

namespace {

constexpr const char* kCompareCaption = "BIOS Data Compare.............. ";

struct ChipRun {
  ChipPosition chip;
  const char* heading;
  const char* underline;
  const char* flashPartFormat;
  const char* readCaption;
};

constexpr ChipRun kMainRun = {ChipPosition::Main, "Main BIOS information\n", "---------------------\n",
                              "Main BIOS Flash Part........... %s\n", "Reading Main BIOS.............. "};
constexpr ChipRun kBackupRun = {ChipPosition::Backup, "Backup BIOS information\n", "-----------------------\n",
                                "Backup BIOS Flash Part......... %s\n", "Reading Backup BIOS............ "};

struct Comparison {
  uint8_t* image[2] = {nullptr, nullptr};
  BiosInfo* record[2] = {nullptr, nullptr};
  uint64_t bufferSize = 0;
  bool passed = true;
  bool readFailed = false;
};

void Fail(Comparison* test, ExitStatus status) {
  SetExitStatus(status);
  test->passed = false;
}

bool AllocateBuffers(Comparison* test) {
  // Exactly the region: the reader clips every transfer to the buffer, so a
  // block size the mailbox reports cannot make the buffer larger.
  test->bufferSize = gTool.Geometry.BiosSize;
  for (int i = 0; i < 2; ++i) test->image[i] = static_cast<uint8_t*>(AllocateErased(test->bufferSize));
  for (int i = 0; i < 2; ++i) test->record[i] = static_cast<BiosInfo*>(AllocateZeroed(sizeof(BiosInfo)));
  return test->image[0] && test->image[1] && test->record[0] && test->record[1];
}

void ReleaseBuffers(Comparison* test) {
  for (int i = 0; i < 2; ++i) {
    ReleasePool(test->image[i]);
    ReleasePool(test->record[i]);
  }
}

// Makes `chip` active unless it already is; the delay follows the request and
// comes before its result is looked at.
bool SelectChip(const ChipRun& run) {
  if (GetChipPosition() == run.chip) return true;
  EFI_STATUS status = SetChipPosition(run.chip);
  if (gTool.Delay != 0) gBS->Stall(static_cast<UINTN>(gTool.Delay) * 100000);
  if (status != kEfiSuccess) {
    SetExitStatus(ExitStatus::SwitchFailed);
    Print("%s", SwitchFailedLine(run.chip));
    return false;
  }
  return true;
}

IdentityObserver gIdentityObserver = nullptr;

void ReadIdentity(Comparison* test, const ChipRun& run, int index) {
  if (run.chip == ChipPosition::Backup) memset(gTool.Geometry.PartName, 0, kPartNameSize);
  QueryFlashMailbox(gTool.Geometry.PartInfo, nullptr, nullptr, nullptr);
  BiosInfo* record = test->record[index];
  uint8_t* image = test->image[index];
  memset(record, 0, sizeof *record);
  Print("%s", run.heading);
  Print("%s", run.underline);
  char partName[kPartNameSize + 1];
  CopyBoundedText(partName, gTool.Geometry.PartName, kPartNameSize);
  Print(run.flashPartFormat, partName);

  const FlashGeometry& geometry = gTool.Geometry;
  if (gTool.FullRead) {
    EFI_STATUS read = ReadFlashRegionInto(image, test->bufferSize, geometry.FlashSize - geometry.BiosSize,
                                          geometry.BiosSize, run.readCaption);
    if (EfiError(read)) {
      // Nothing was read, and two unread buffers would compare equal.
      test->readFailed = true;
      Fail(test, ExitStatus::NotSupported);
    }
    record->Image = image;
    record->ImageSize = geometry.BiosSize;
    LocateDescriptor(record);
    FillBoundedText(record->FlashPart, geometry.PartName, kPartNameSize);
    MaskVariableStore(image, geometry.BiosSize);
    MaskAreas(image, record);
  } else {
    LocateDescriptorInWindow(record);
  }
  Print("Model Name..................... %s\n", record->ModelName);
  Print("BiosPart Number................ %s\n", record->PartNumber);
  Print("Bios Version................... %s\n", record->Version);
  Print("\n");
  if (gIdentityObserver != nullptr) gIdentityObserver(index, *record);
}

void Check(Comparison* test, const char* caption, bool agree, ExitStatus code) {
  Print("%s", caption);
  if (agree) {
    Print("OK\n");
  } else {
    Fail(test, code);
    Print("ERROR !!!\n");
  }
}

// Every check prints its line; a failing one stores its status, so the last
// failing check in table order decides the exit status.
void CheckIdentities(Comparison* test) {
  for (const IdentityCheck& check : kIdentityChecks)
    Check(test, check.Caption, IdentityFieldsAgree(check, *test->record[0], *test->record[1]), check.Status);
}

// True when the region is a whole, non-zero number of blocks. Otherwise a
// block-by-block compare would leave bytes unread (the top of the region,
// where the reset vector lies), and a PASS would vouch for them.
bool RegionIsWholeBlocks(const FlashGeometry& geometry) {
  return geometry.BiosSize != 0 && geometry.BlockSize != 0 && geometry.BiosSize % geometry.BlockSize == 0;
}

void CompareData(Comparison* test) {
  if (!RegionIsWholeBlocks(gTool.Geometry)) {
    Fail(test, ExitStatus::NotSupported);
    return;
  }
  uint32_t biosSize = gTool.Geometry.BiosSize;
  uint32_t blockSize = gTool.Geometry.BlockSize;
  uint32_t blocks = biosSize / blockSize;
  for (uint32_t i = 0; i < blocks; ++i) {
    uint64_t offset = static_cast<uint64_t>(i) * blockSize;
    if (memcmp(test->image[0] + offset, test->image[1] + offset, blockSize) != 0) {
      Fail(test, ExitStatus::DataMismatch);
      uint32_t address = gTool.FlashBaseAddress + (gTool.Geometry.FlashSize - biosSize) + i * blockSize;
      Print("%c%s0x%x\n", kCarriageReturn, "BIOS Data Compare.............. FAIL at address ", address);
      return;
    }
    SetExitStatus(ExitStatus::Success);
    if (i + 1 == blocks) {
      // As wide as the "NN% OK" it overwrites, so no stray letter remains.
      Print("%c%sOK    \n", kCarriageReturn, kCompareCaption);
    } else {
      Print("%c%s%d%% OK", kCarriageReturn, kCompareCaption,
            ProgressPercent(static_cast<uint64_t>(i + 1) * blockSize, biosSize));
    }
  }
}

void RunSteps(Comparison* test) {
  if (gTool.Geometry.FlashSize == 0 || !AllocateBuffers(test)) {
    Fail(test, ExitStatus::NotSupported);
    return;
  }
  ApplyFlashWindowCacheOverride();
  if (!SelectChip(kMainRun)) {
    test->passed = false;
    return;
  }
  ReadIdentity(test, kMainRun, 0);
  if (!SelectChip(kBackupRun)) {
    test->passed = false;
    return;
  }
  ReadIdentity(test, kBackupRun, 1);
  RestoreBiosPosition(false);
  Print("Comparing MAIN & BACKUP BIOS\n");
  Print("----------------------------\n");
  // A failed read has already decided the verdict; the checks still report.
  bool passedSoFar = !test->readFailed;
  test->passed = true;
  CheckIdentities(test);
  if (!passedSoFar) test->passed = false;
  if (test->passed && gTool.FullRead) CompareData(test);
}

}  // namespace

void SetIdentityObserver(IdentityObserver observer) { gIdentityObserver = observer; }

EFI_STATUS RunComparisonTest() {
  Comparison test;
  RunSteps(&test);
  EFI_STATUS restore = RestoreBiosPosition(false);
  ReleaseBuffers(&test);
  if (restore == kEfiDeviceError) {
    // The board would boot from the other chip: that is never a pass.
    ReportFailedRestore(restore);
    test.passed = false;
  }
  if (test.passed)
    Print("\nPellgard comparison test PASS !!!\n");
  else
    Print("\nPellgard comparison test FAIL !!!\n");
  return test.passed ? kEfiSuccess : kEfiUnsupported;
}
