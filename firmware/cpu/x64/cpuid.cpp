// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/cpu/cpuid.h"

CpuidResult Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidResult result;
  __asm__ __volatile__("cpuid"
                       : "=a"(result.Eax), "=b"(result.Ebx), "=c"(result.Ecx), "=d"(result.Edx)
                       : "a"(leaf), "c"(subleaf));
  return result;
}
