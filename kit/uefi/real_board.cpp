// SPDX-License-Identifier: BSD-2-Clause-Patent
// The shipped kit runs on the board as it boots.
void PrepareBoard() {}
