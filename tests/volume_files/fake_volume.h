// SPDX-License-Identifier: BSD-2-Clause-Patent
// A simple file system in memory behind the loaded image's device, as the
// firmware hands it to a boot application: folders, files, free space in
// clusters, renames through SetInfo, and failures a test switches on.
#pragma once

#include <map>
#include <string>

#include "runtime/efi_file_system.h"

struct FakeEntry {
  bool Folder = false;
  std::string Data;
};

struct FakeVolumeFailures {
  bool CreateRefused = false;  // a write-protected stick
  bool WriteFails = false;
  bool FlushFails = false;
  bool RenameFails = false;
  bool InfoUnreported = false;                // no EFI_FILE_SYSTEM_INFO
  bool ReadFlipsAByte = false;                // a stick that returns other bytes
  bool DeleteRefused = false;                 // Delete answers with its warning, the entry stays
  uint64_t WritesBeforeFailure = UINT64_MAX;  // then every write fails
};

struct FakeVolume {
  // Paths from the root without a leading '\' ("RUN001\\PELLRIX.LOG"); the
  // root itself is "".
  std::map<std::string, FakeEntry> Entries{{"", FakeEntry{true, {}}}};
  uint64_t FreeBytes = 1ull << 30;
  uint32_t ClusterBytes = 4096;
  FakeVolumeFailures Fail;
  int OpenHandles = 0;
};

// Points gImageHandle, gST and gBS at firmware whose loaded image lies on
// `volume` (or on a device without a file system when null).
void InstallFakeVolume(FakeVolume* volume);
