// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/cpu/msr.h"

uint64_t ReadMsr(uint32_t index) {
  uint32_t low = 0;
  uint32_t high = 0;
  __asm__ __volatile__("rdmsr" : "=a"(low), "=d"(high) : "c"(index));
  return static_cast<uint64_t>(high) << 32 | low;
}

void WriteMsr(uint32_t index, uint64_t value) {
  __asm__ __volatile__("wrmsr"
                       :
                       : "c"(index), "a"(static_cast<uint32_t>(value)), "d"(static_cast<uint32_t>(value >> 32))
                       : "memory");
}

void ReloadCr3() {
  uint64_t cr3 = 0;
  __asm__ __volatile__("mov %%cr3, %0\n\tmov %0, %%cr3" : "=r"(cr3) : : "memory");
}

void WriteBackInvalidateCaches() { __asm__ __volatile__("wbinvd" : : : "memory"); }
