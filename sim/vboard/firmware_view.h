// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the virtual-board driver puts between the program and the real
// firmware so that the firmware answers as the board says: the ACPI tables
// seen through the ACPI SDT protocol, and the program's pool allocations.
#pragma once

#include <stdint.h>

#include "record/board_vocabulary.h"
#include "runtime/efi.h"

namespace vboard {

// Present: every table as the firmware has it, but the FADT a copy whose
// SMI_CMD is `smiPort`. NoFacp: the same list without the FADT. Absent: the
// SDT protocol is uninstalled. Null, or what could not be done.
const char* InstallAcpiView(EFI_BOOT_SERVICES* bootServices, AcpiMode mode, uint16_t smiPort);

// Every image whose file name begins with "pellrix" that the shell starts
// has its AllocatePool calls counted from 1; the ones whose number is in
// `ordinals` fail with EFI_OUT_OF_RESOURCES and allocate nothing. Calls that
// boot services make for themselves do not count (they do not come from the
// image's code). Null, or what could not be done.
const char* InstallAllocationFaults(EFI_BOOT_SERVICES* bootServices, const uint64_t* ordinals, unsigned count);

}  // namespace vboard
