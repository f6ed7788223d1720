#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Every test: unit and simulator tests, the real UEFI Shell run under QEMU,
# pellrix-diff's report page in headless Chromium (label browser), the unit
# tests again under AddressSanitizer and UBSan, a Release build of every
# target (-O3 warns where the default build does not), and a short fuzzing
# run, then the Debian packages built, checked by lintian, installed, run and
# removed (tools/check-debian-package.sh). FUZZ_SECONDS sets the fuzzing time
# per target (default 20; 0 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
source tools/ccache-launcher.sh

echo "== tests"
ctest --test-dir build --output-on-failure -j"$(nproc)" -LE browser

echo "== browser tests (headless Chromium)"
ctest --test-dir build --output-on-failure -L browser

echo "== tests under AddressSanitizer and UBSan"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLRIX_SANITIZE=ON -DPELLRIX_BUILD_EFI=OFF "${launcher[@]}" >/dev/null
cmake --build build-sanitize -j"$(nproc)"
ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)" -LE "uefi|browser"

echo "== Release build of every target"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build-release -j"$(nproc)" >build-release/build.log 2>&1 || { tail -50 build-release/build.log; exit 1; }

if [ "${FUZZ_SECONDS:-20}" != 0 ]; then
  echo "== fuzzing (${FUZZ_SECONDS:-20} s per target)"
  tests/fuzz/run.sh "${FUZZ_SECONDS:-20}"
fi

echo "== Debian packages: built, lintian, installed, run, removed"
bash tools/check-debian-package.sh
