// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "runtime/efi_globals.h"

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;
