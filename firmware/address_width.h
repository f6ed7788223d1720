// SPDX-License-Identifier: BSD-2-Clause-Patent
// The processor's physical address width, as the MTRRs must respect it.
#pragma once

#include <stdint.h>

// Physical address width from CPUID; 36 bits when the leaf is not offered.
uint32_t PhysicalAddressBits();

// KeyID bits of active multi-key memory encryption, taken from the top of the
// physical address (0 without it). IA32_TME_ACTIVATE is read only where CPUID
// reports the feature.
uint32_t MemoryEncryptionKeyIdBits();
