#include "firmware/cpu/cpuid.h"

CpuidResult Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidResult result;
  __asm__ __volatile__("cpuid"
                       : "=a"(result.eax), "=b"(result.ebx), "=c"(result.ecx), "=d"(result.edx)
                       : "a"(leaf), "c"(subleaf));
  return result;
}
