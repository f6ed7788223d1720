// SPDX-License-Identifier: BSD-2-Clause-Patent
#pragma once

#include <stdint.h>

struct CpuidResult {
  uint32_t Eax;
  uint32_t Ebx;
  uint32_t Ecx;
  uint32_t Edx;
};

// CPUID of `leaf` with ECX = `subleaf` (leaves without subleaves ignore it).
CpuidResult Cpuid(uint32_t leaf, uint32_t subleaf = 0);
