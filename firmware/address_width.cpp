// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/address_width.h"

#include "firmware/cpu/cpuid.h"
#include "firmware/cpu/msr.h"

uint32_t PhysicalAddressBits() {
  if (Cpuid(0x80000000).Eax < 0x80000008) return 36;
  uint32_t bits = Cpuid(0x80000008).Eax & 0xFF;
  return bits != 0 ? bits : 36;
}

// With multi-key memory encryption active, the top KeyID bits of a physical
// address select a key and are not address bits. IA32_TME_ACTIVATE exists
// only where CPUID reports the feature; reading it elsewhere faults.
uint32_t MemoryEncryptionKeyIdBits() {
  constexpr uint32_t kStructuredFeaturesLeaf = 7;
  constexpr uint32_t kTmeSupported = 1u << 13;  // leaf 7, ECX
  constexpr uint32_t kTmeActivate = 0x982;
  constexpr uint64_t kTmeEnabled = 1ull << 1;
  if (Cpuid(0).Eax < kStructuredFeaturesLeaf) return 0;
  if ((Cpuid(kStructuredFeaturesLeaf, 0).Ecx & kTmeSupported) == 0) return 0;
  uint64_t activate = ReadMsr(kTmeActivate);
  if ((activate & kTmeEnabled) == 0) return 0;
  return static_cast<uint32_t>(activate >> 32) & 0xF;
}
