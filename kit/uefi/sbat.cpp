// SPDX-License-Identifier: BSD-2-Clause-Patent
// The kit's SBAT data: the generation of its security fixes, which shim reads
// from the image's .sbat section and checks against its revocations before
// it starts the kit. Raise the "pellrix" generation when a fix must revoke
// every earlier signed kit.
#include "kit/kit_version.h"

extern "C" __attribute__((section(".sbat"), used)) const char kSbatSection[] =
    "sbat,1,SBAT Version,sbat,1,https://github.com/rhboot/shim/blob/main/SBAT.md\n"
    "pellrix,1,Pellrix,pellrix-kit," PELLRIX_KIT_VERSION ",https://pellrix.invalid/field-kit\n";
