// SPDX-License-Identifier: BSD-2-Clause-Patent
// Model-specific registers, the translation-buffer flush and the cache flush.
#pragma once

#include <stdint.h>

uint64_t ReadMsr(uint32_t index);
void WriteMsr(uint32_t index, uint64_t value);

// Writes CR3 with its own value, which flushes the translation buffers.
void ReloadCr3();

// Writes back and invalidates the processor's caches (WBINVD), so no line
// cached under an earlier memory type survives a change of it.
void WriteBackInvalidateCaches();
