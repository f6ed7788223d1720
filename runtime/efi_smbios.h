// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SMBIOS entry points' GUIDs in the system table's configuration table,
// where the field kit finds the board's serial number.
#pragma once

#include "runtime/efi.h"

constexpr EFI_GUID kSmbiosTableGuid = {0xEB9D2D31, 0x2D88, 0x11D3, {0x9A, 0x16, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr EFI_GUID kSmbios3TableGuid = {0xF2FD1544, 0x9794, 0x4A2C, {0x99, 0x2E, 0xE5, 0xBB, 0xCF, 0x20, 0xE3, 0x94}};
