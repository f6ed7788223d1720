#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The main job: the comparison test on the simulator's built-in sample board.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh >/dev/null
exec build/pellrix-sim "$@"
