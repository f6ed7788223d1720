// SPDX-License-Identifier: BSD-2-Clause-Patent
// The default command: compare the Main and the Backup chip.
#pragma once

#include "image/bios_info.h"
#include "runtime/efi.h"

// Full mode reads, identifies, masks and compares both BIOS regions; the
// simple test (full-read flag 0) checks only the identities from the flash
// window. Returns 0 on PASS and kEfiUnsupported on FAIL; the outcome for the
// shell is the exit status.
EFI_STATUS RunComparisonTest();

// Called with each chip's identity as the comparison reads it (0 Main, 1
// Backup), after its lines are printed; null (the default) for none. The
// field kit names the board by it.
using IdentityObserver = void (*)(int chipIndex, const BiosInfo& identity);
void SetIdentityObserver(IdentityObserver observer);
