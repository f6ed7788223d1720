// SPDX-License-Identifier: BSD-2-Clause-Patent
// The position commands: reporting (/p) and changing (/c) the active chip.
#pragma once

void RunPositionCommand();  // /p
void RunChangeCommand();    // /c
