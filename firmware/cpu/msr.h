// Model-specific registers and the translation-buffer flush.
#pragma once

#include <stdint.h>

uint64_t ReadMsr(uint32_t index);
void WriteMsr(uint32_t index, uint64_t value);

// Writes CR3 with its own value, which flushes the translation buffers.
void ReloadCr3();
