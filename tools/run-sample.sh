#!/usr/bin/env bash
# The main job: the comparison test on the simulator's built-in sample board.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh >/dev/null
exec build/pellrix-sim "$@"
