#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The package build's own check of the programs it built, without QEMU or a
# browser: the comparison test on the simulator's sample board must pass
# (exit status 128), both chips saved by the utility must be whole 16 MiB
# files, and pellrix-diff must find the same verdict in them (exit 0).
#
# usage: check-built-programs.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-built-programs: $*" >&2; exit 1; }

status=0
"$build/pellrix-sim" --dir "$work" -- >"$work/compare.txt" || status=$?
[ "$status" -eq 128 ] || fail "the sample board's comparison test ended with $status, not 128"
grep -q "comparison test PASS" "$work/compare.txt" || fail "the sample board's comparison test did not say PASS"

for chip in 1 2; do
  status=0
  "$build/pellrix-sim" --dir "$work" -- /s "$chip" >/dev/null || status=$?
  [ "$status" -eq 128 ] || fail "/s $chip ended with $status, not 128"
done
for file in MAIN.BIN BACKUP.BIN; do
  [ "$(wc -c <"$work/$file")" -eq 16777216 ] || fail "$file is not the whole 16 MiB chip"
done

"$build/diff/pellrix-diff" "$work/MAIN.BIN" "$work/BACKUP.BIN" >"$work/diff.txt" ||
  fail "pellrix-diff does not pass the sample board's chips"
grep -q "^On-board verdict: PASS" "$work/diff.txt" || fail "pellrix-diff's verdict is not PASS"
echo "check-built-programs: the sample board passes in pellrix-sim and pellrix-diff"
