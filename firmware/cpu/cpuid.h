#pragma once

#include <stdint.h>

struct CpuidResult {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
  uint32_t edx;
};

CpuidResult Cpuid(uint32_t leaf);
