#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The real CPU layer executes WBINVD: each EFI image that may write the cache
# override holds the instruction once (its order after the CR3 reload is held
# by the simulator's tests of the same code).
set -euo pipefail
build="$1"
for image in pellrix.efi pellrix-record.efi; do
  listing=$(llvm-objdump -d --no-show-raw-insn "$build/$image")
  count=$(grep -cw wbinvd <<<"$listing" || true)
  if [ "$count" -ne 1 ]; then
    echo "$image: $count wbinvd instructions, expected 1" >&2
    exit 1
  fi
done
echo "wbinvd in pellrix.efi and pellrix-record.efi"
