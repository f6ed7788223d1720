// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/cpu/port.h"

void TriggerSoftwareSmi(uint16_t port, uint8_t commandByte, void* buffer) {
  uint64_t address = reinterpret_cast<uintptr_t>(buffer);
  uint32_t low = static_cast<uint32_t>(address);
  uint32_t high = static_cast<uint32_t>(address >> 32);
  // The handler reads the buffer address from EBX:ECX at the port write and
  // may write the registers back; declare them clobbered so the compiler
  // keeps nothing in them across the SMI.
  __asm__ __volatile__("outb %%al, %%dx" : "+a"(commandByte), "+b"(low), "+c"(high), "+d"(port) : : "memory");
}
