// SPDX-License-Identifier: BSD-2-Clause-Patent
// The firmware tables handed to the application at entry. The real entry
// point fills them from the image's arguments; the simulator points them at
// its simulated firmware before it runs the tool.
#pragma once

#include "runtime/efi.h"

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE* gST;
extern EFI_BOOT_SERVICES* gBS;
