#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The main job: the comparison test on the simulator's built-in sample board.
# Installs only what the build needs (tools/setup.sh build).
set -euo pipefail
cd "$(dirname "$0")/.."
PELLRIX_SETUP=build bash tools/build.sh >/dev/null
exec build/pellrix-sim "$@"
