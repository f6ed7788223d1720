#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Runs the utility on the sample board inside OVMF's real UEFI Shell under
# QEMU (vboard.efi brings the board, pellrix-vboard.efi is the utility) and
# shows the shell's console; the same command then runs in pellrix-sim and the
# two are compared. Without arguments it runs the comparison test.
#
#   bash tools/run-in-uefi-shell.sh            # the comparison test
#   bash tools/run-in-uefi-shell.sh /s 2       # any other command line
set -euo pipefail
cd "$(dirname "$0")/.."
PELLRIX_SETUP=shell bash tools/build.sh >/dev/null
command=${*:--}
VBOARD_BOARDS=sample VBOARD_COMMANDS="$command" VBOARD_SHOW=1 \
  exec tests/uefi/run_differential_test.sh build
