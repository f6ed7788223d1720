#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Extracts the EDK2 UEFI Shell from an OVMF code image and checks that it is
# a PE32+ EFI application for x64.
#
# usage: extract-shell.sh OVMF_CODE.fd OUTPUT.efi
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 OVMF_CODE.fd OUTPUT.efi" >&2; exit 2; }
ovmf=$1
output=$2
# The shell's file in OVMF's DXE volume.
shell_guid=7C04A583-9E3E-4F1C-AD65-E05268D0B4D1

[[ -f $ovmf ]] || { echo "extract-shell: no OVMF image at $ovmf (package ovmf)" >&2; exit 1; }
command -v UEFIExtract >/dev/null || { echo "extract-shell: UEFIExtract not found (package uefitool-cli)" >&2; exit 1; }

# UEFIExtract refuses to write into an existing dump, so each run gets a
# fresh folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$ovmf" "$work/ovmf.fd"
(cd "$work" && UEFIExtract ovmf.fd "$shell_guid" -m body -t 10 >/dev/null) ||
  { echo "extract-shell: UEFIExtract failed on $ovmf" >&2; exit 1; }
body=$work/ovmf.fd.dump/body.bin
[[ -f $body ]] || { echo "extract-shell: no PE32 section in file $shell_guid of $ovmf" >&2; exit 1; }
extra=$(find "$work/ovmf.fd.dump" -name 'body_*.bin' | wc -l)
((extra == 0)) || { echo "extract-shell: file $shell_guid holds more than one PE32 section" >&2; exit 1; }

bash "$(dirname "$0")/check-efi-app.sh" "$body" "file $shell_guid of $ovmf"
cp "$body" "$output"
