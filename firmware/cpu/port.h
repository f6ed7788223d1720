// SPDX-License-Identifier: BSD-2-Clause-Patent
// Processor I/O-port access and the software SMI trigger.
#pragma once

#include <stdint.h>

// Writes `commandByte` to I/O port `port` with the buffer's physical address in
// EBX (low 32 bits) and ECX (high 32 bits), as the firmware's software-SMI
// handler expects. The handler has finished with the buffer when this returns;
// RAX, RBX, RCX and RDX are preserved.
void TriggerSoftwareSmi(uint16_t port, uint8_t commandByte, void* buffer);
