// SPDX-License-Identifier: BSD-2-Clause-Patent
#pragma once

#include "runtime/efi.h"
#include "sim/machine.h"

namespace sim {

// Fills the machine's system table, boot services and protocols.
void BuildFirmware(Machine& machine);
EFI_SYSTEM_TABLE* SystemTableOf(Machine& machine);

}  // namespace sim
