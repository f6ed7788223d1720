// SPDX-License-Identifier: BSD-2-Clause-Patent
// The default command: compare the Main and the Backup chip.
#pragma once

#include "runtime/efi.h"

// Full mode reads, identifies, masks and compares both BIOS regions; the
// simple test (full-read flag 0) checks only the identities from the flash
// window. Returns 0 on PASS and kEfiUnsupported on FAIL; the outcome for the
// shell is the exit status.
EFI_STATUS RunComparisonTest();
