// SPDX-License-Identifier: BSD-2-Clause-Patent
// The C library's memory functions. The UEFI build has no C library, so the
// runtime defines them itself; on the host they come from libc.
#pragma once

#include <stddef.h>

#if defined(PELLRIX_UEFI)
extern "C" {
void* memcpy(void* destination, const void* source, size_t count);
void* memmove(void* destination, const void* source, size_t count);
void* memset(void* destination, int value, size_t count);
int memcmp(const void* a, const void* b, size_t count);
void* memchr(const void* source, int value, size_t count);
}
#else
#include <string.h>
#endif
