// SPDX-License-Identifier: BSD-2-Clause-Patent
// The field kit's run, from the first line on screen to the restart.
#pragma once

// Runs the kit on the volume it was loaded from; returns only when the
// firmware could not restart the board.
void RunFieldKit();
