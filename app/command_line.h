// SPDX-License-Identifier: BSD-2-Clause-Patent
#pragma once

#include "runtime/efi.h"

// Turns the argument vector into the command to run in gTool. Returns 0 when
// the line is accepted and kEfiUnsupported when it is rejected. Prints nothing.
EFI_STATUS ParseCommandLine(int argc, char** argv);
