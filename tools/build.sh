#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Configures and builds both builds (pellrix-sim and pellrix.efi) into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$(nproc)"
