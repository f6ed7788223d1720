#pragma once

#include <stdint.h>

struct CpuidResult {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
  uint32_t edx;
};

// CPUID of `leaf` with ECX = `subleaf` (leaves without subleaves ignore it).
CpuidResult Cpuid(uint32_t leaf, uint32_t subleaf = 0);
