#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Holds pellrix-diff against UEFIExtract (package uefitool-cli) on a
# directory of real firmware images: every *.fd file alone (the same files,
# paths, GUIDs and names, every compressed section opened, the same variable
# entries), and each pair of files of one size taken in name order (the same
# changed and one-sided files as UEFIExtract's CRC32s say, the same
# differing variables). Images are only read.
#   tools/check-corpus.sh DIR [PELLRIX_DIFF]
# PELLRIX_DIFF defaults to build/diff/pellrix-diff. Exit status 1 when any
# check differs.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: tools/check-corpus.sh DIR [PELLRIX_DIFF]}
program=${2:-$root/build/diff/pellrix-diff}
compare="$root/tools/uefiextract_compare.py"
command -v UEFIExtract >/dev/null || { echo "UEFIExtract not installed (package uefitool-cli)" >&2; exit 1; }
[ -x "$program" ] || { echo "$program: not built" >&2; exit 1; }

shopt -s nullglob
images=("$dir"/*.fd)
((${#images[@]})) || { echo "$dir: no *.fd images" >&2; exit 1; }
status=0
for image in "${images[@]}"; do
  python3 "$compare" "$program" "$image" || status=1
done
previous=""
for image in "${images[@]}"; do
  if [ -n "$previous" ] && [ "$(stat -c %s "$previous")" = "$(stat -c %s "$image")" ]; then
    python3 "$compare" "$program" "$previous" "$image" || status=1
  fi
  previous=$image
done
exit $status
