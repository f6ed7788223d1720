#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Configures and builds both builds (pellrix-sim and pellrix.efi) into build/.
# PELLRIX_SETUP names the package set to install first (tools/setup.sh:
# build or all; all by default, since the tests follow a build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh "${PELLRIX_SETUP:-all}"
source tools/ccache-launcher.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build build -j"$(nproc)"
