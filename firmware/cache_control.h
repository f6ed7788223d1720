// SPDX-License-Identifier: BSD-2-Clause-Patent
// Keeps flash-window reads from being served by cache lines of the other chip.
#pragma once

#include "runtime/efi.h"

// 0 when a PCI function of this base class and subclass has this vendor ID;
// kEfiNotFound or the last failing protocol status otherwise.
EFI_STATUS ProbeHostBridge(uint8_t baseClass, uint8_t subclass, uint16_t vendorId);

// Makes the top 16 MiB below 4 GiB uncacheable through variable MTRR pair 9,
// when the firmware caches a write-protected range and pair 9 is free.
void SetFlashWindowUncached();

// The probe-then-override guard that every command runs around its switches.
void ApplyFlashWindowCacheOverride();
