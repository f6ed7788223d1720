// SPDX-License-Identifier: BSD-2-Clause-Patent
// The kit's SBAT data (runtime/uefi/sbat.h), kept by the linker with
// /include:kSbatSection.
#include "kit/kit_version.h"
#include "runtime/uefi/sbat.h"

extern "C" __attribute__((section(".sbat"), used)) const char kSbatSection[] =
    PELLRIX_SBAT_DATA("pellrix-kit", PELLRIX_KIT_VERSION);
