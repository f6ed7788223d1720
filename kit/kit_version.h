// SPDX-License-Identifier: BSD-2-Clause-Patent
// The field kit's version, shown on screen, written to RESULT.TXT and
// carried in the image's SBAT data.
#pragma once

#define PELLRIX_KIT_VERSION "1.0"

inline constexpr const char kKitVersion[] = PELLRIX_KIT_VERSION;
