#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Checks that FILE is a PE32+ EFI application for x64; says what is wrong
# with it (naming it NAME, default FILE) and fails otherwise.
#
# usage: check-efi-app.sh FILE [NAME]
set -euo pipefail
[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 FILE [NAME]" >&2; exit 2; }
file=$1
name=${2:-$1}
[[ -f $file ]] || { echo "$name: no such file" >&2; exit 1; }

# Little-endian integer of WIDTH bytes at OFFSET (empty past the end).
number() { od -An -t"u$2" -j "$1" -N "$2" --endian=little "$file" 2>/dev/null | tr -d ' ' || true; }
problem=""
pe=$(number 60 4)
if [[ $(number 0 2) != $((0x5A4D)) || -z $pe ]]; then
  problem="no MZ header"
elif [[ $(od -An -c -j "$pe" -N 4 "$file" 2>/dev/null | tr -d ' ' || true) != 'PE\0\0' ]]; then
  problem="no PE signature"
elif [[ $(number $((pe + 4)) 2) != $((0x8664)) ]]; then
  problem="not built for x64"
elif [[ $(number $((pe + 24)) 2) != $((0x20B)) ]]; then
  problem="not PE32+"
elif [[ $(number $((pe + 24 + 68)) 2) != 10 ]]; then
  problem="not an EFI application"
fi
[[ -z $problem ]] || { echo "$name: $problem" >&2; exit 1; }
