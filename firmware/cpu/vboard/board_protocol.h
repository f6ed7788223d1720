// SPDX-License-Identifier: BSD-2-Clause-Patent
// The virtual board's private protocol as pellrix-vboard.efi finds it.
#pragma once

#include "firmware/cpu/vboard/vboard_protocol.h"

// The protocol vboard.efi installed; null when the driver is not loaded. The
// first successful lookup is kept for the rest of the run.
VboardProtocol* VirtualBoard();
