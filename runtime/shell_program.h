// SPDX-License-Identifier: BSD-2-Clause-Patent
// What a UEFI Shell application's image entry hands its program to: the
// runtime takes the argument list from the shell, converts it to UTF-8 and
// returns the program's result as the status the shell sees (%lasterror%).
#pragma once

#include "runtime/efi.h"

using ShellProgram = int (*)(int argc, char** argv);

EFI_STATUS RunShellProgram(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* systemTable, ShellProgram program);
