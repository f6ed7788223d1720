#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds the field kit: a GPT disk image with one EFI system partition (FAT32)
# that boots the EDK2 UEFI Shell, whose startup.nsh runs the comparison test
# and keeps the evidence of a failure. Write it to a USB stick with dd or any
# image writer.
#
#   bash tools/make-usb.sh                 # build/pellrix-usb.img
#
# Options:
#   --output FILE    where the image goes (default build/pellrix-usb.img)
#   --size MIB       image size in MiB (default 512; each failed run takes
#                    about four times the flash part's size)
#   --prebuilt DIR   take the EFI programs from DIR, build nothing
#   --vboard         the test image: startup.nsh also loads vboard.efi, and
#                    the virtual-board programs go in under the shipped names
#
# The same inputs give the same bytes, whatever the time zone, locale or
# umask: fixed volume id, GUIDs, time stamps and file order. OVMF_CODE names
# the OVMF image the shell is taken from.
set -euo pipefail
# FAT stores local time: mtools turns SOURCE_DATE_EPOCH into it through TZ.
export TZ=UTC
export LC_ALL=C
umask 022
root=$(cd "$(dirname "$0")/.." && pwd)
# mkfs.fat and sgdisk live in sbin, which a user's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin

output=$root/build/pellrix-usb.img
size_mib=512
prebuilt=""
vboard=0
source "$root/tools/version.sh"
usage() {
  cat <<'USAGE'
usage: make-usb.sh [--output FILE] [--size MIB] [--prebuilt DIR] [--vboard]

Builds the field kit's USB stick image: a GPT disk with one EFI system
partition (FAT32) that boots the EDK2 UEFI Shell and runs the comparison test.

  --output FILE    where the image goes (default build/pellrix-usb.img)
  --size MIB       image size in MiB (default 512, at least 64)
  --prebuilt DIR   take the EFI programs from DIR, build nothing
  --vboard         the test image, with the virtual board
  --help, --version
USAGE
}
while (($#)); do
  case $1 in
    --help) usage; exit 0 ;;
    --version) echo "pellrix-make-usb $(pellrix_version "$root")"; exit 0 ;;
    --output) output=$2; shift 2 ;;
    --size) size_mib=$2; shift 2 ;;
    --prebuilt) prebuilt=$2; shift 2 ;;
    --vboard) vboard=1; shift ;;
    *) echo "usage: $0 [--output FILE] [--size MIB] [--prebuilt DIR] [--vboard]" >&2; exit 2 ;;
  esac
done
[[ $size_mib =~ ^[0-9]+$ ]] && ((size_mib >= 64)) || { echo "make-usb: --size needs at least 64 (MiB)" >&2; exit 2; }

if [[ -z $prebuilt ]]; then
  bash "$root/tools/setup.sh"
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  targets=(pellrix_efi pellrix_record_efi)
  ((vboard)) && targets+=(pellrix_vboard_efi pellrix_record_vboard_efi vboard_efi)
  cmake --build "$root/build" --target "${targets[@]}"
  prebuilt=$root/build
fi
if ((vboard)); then
  programs=("$prebuilt/pellrix-vboard.efi" "$prebuilt/pellrix-record-vboard.efi" "$prebuilt/vboard.efi")
else
  programs=("$prebuilt/pellrix.efi" "$prebuilt/pellrix-record.efi")
fi
for program in "${programs[@]}"; do
  [[ -f $program ]] || { echo "make-usb: not built: $program" >&2; exit 1; }
done

ovmf_code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
# The shell's notices travel with it.
shell_copyright=/usr/share/doc/ovmf/copyright
[[ -f $shell_copyright ]] || { echo "make-usb: $shell_copyright is missing (package ovmf)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The UEFI Shell is a PE32 section in OVMF's compressed DXE volume.
bash "$root/tools/usb/extract-shell.sh" "$ovmf_code" "$work/BOOTX64.EFI"

# Text files for the stick get CRLF line ends.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$root/tools/usb/README.TXT" "$work/README.TXT"
crlf "$root/tools/usb/nextrun.nsh" "$work/nextrun.nsh"
crlf "$root/tools/usb/digit.nsh" "$work/digit.nsh"
# EDK2's own license first (Debian's copyright file predates its move to
# BSD-2-Clause-Patent), then Debian's file for what else the package holds.
{
  cat "$root/tools/usb/EDK2-LICENSE.TXT"
  printf '\n\n'
  cat "$shell_copyright"
} >"$work/shell-copyright.in"
crlf "$work/shell-copyright.in" "$work/SHELL-COPYRIGHT.TXT"
if ((vboard)); then
  sed '/^# (the test image loads its virtual board here)$/a load vboard.efi' "$root/tools/usb/startup.nsh" >"$work/startup.nsh.in"
  grep -qx 'load vboard.efi' "$work/startup.nsh.in" || { echo "make-usb: startup.nsh lacks the board's line" >&2; exit 1; }
  crlf "$work/startup.nsh.in" "$work/startup.nsh"
else
  crlf "$root/tools/usb/startup.nsh" "$work/startup.nsh"
fi

# highest.nsh, generated: the digits of the highest RUNnnn present into
# %na%, %nb% and %nc%, a binary search on each digit with "if exist" on
# ranges, so that startup.nsh finds it in a few dozen lines (each shell line
# costs milliseconds) whatever the stick holds.
# The largest digit D in LO..HI for which PREFIX[D-9]SUFFIX exists, into VAR.
digit_search() {
  local lo=$1 hi=$2 prefix=$3 suffix=$4 var=$5 indent=$6 mid
  if ((lo == hi)); then
    echo "${indent}set $var $lo"
    return
  fi
  mid=$(((lo + hi + 1) / 2))
  echo "${indent}if exist $prefix[$mid-9]$suffix then"
  digit_search "$mid" "$hi" "$prefix" "$suffix" "$var" "$indent  "
  echo "${indent}else"
  digit_search "$lo" $((mid - 1)) "$prefix" "$suffix" "$var" "$indent  "
  echo "${indent}endif"
}
{
  echo "# Generated by make-usb.sh: the highest run folder present, for startup.nsh."
  digit_search 0 9 RUN '??' na ""
  digit_search 0 9 'RUN%na%' '?' nb ""
  digit_search 0 9 'RUN%na%%nb%' '' nc ""
} >"$work/highest.nsh.in"
crlf "$work/highest.nsh.in" "$work/highest.nsh"

# Geometry: GPT at both ends, the partition from 1 MiB to the last whole MiB
# before the backup table.
sectors=$((size_mib * 2048))
first=2048
last=$(( (sectors - 34) / 2048 * 2048 - 1 ))
part_kib=$(( (last - first + 1) / 2 ))

# The FAT32 file system, built apart and placed into the partition.
mkfs.fat --invariant -F 32 -i 50E11D00 -n PELLRIX -h "$first" -C "$work/esp.img" "$part_kib" >/dev/null
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1767225600}  # 2026-01-01 00:00 UTC
export MTOOLS_SKIP_CHECK=1
esp=$work/esp.img
mmd -i "$esp" ::/EFI ::/EFI/BOOT
mcopy -i "$esp" "$work/BOOTX64.EFI" ::/EFI/BOOT/BOOTX64.EFI
mcopy -i "$esp" "$work/startup.nsh" ::/EFI/BOOT/startup.nsh
mcopy -i "$esp" "$work/highest.nsh" ::/EFI/BOOT/highest.nsh
mcopy -i "$esp" "$work/nextrun.nsh" ::/EFI/BOOT/nextrun.nsh
mcopy -i "$esp" "$work/digit.nsh" ::/EFI/BOOT/digit.nsh
mcopy -i "$esp" "$work/SHELL-COPYRIGHT.TXT" ::/EFI/BOOT/SHELL-COPYRIGHT.TXT
mcopy -i "$esp" "$work/README.TXT" ::/README.TXT
mcopy -i "$esp" "${programs[0]}" ::/pellrix.efi
mcopy -i "$esp" "${programs[1]}" ::/pellrix-record.efi
((vboard)) && mcopy -i "$esp" "${programs[2]}" ::/vboard.efi

truncate -s "$((sectors * 512))" "$work/disk.img"
sgdisk -U 5A7B2C10-3E4F-4D6A-8B9C-0D1E2F3A4B5C \
  -n "1:$first:$last" -t 1:EF00 -c "1:PELLRIX" -u 1:6C1D0E2F-4A5B-4C7D-9E8F-A0B1C2D3E4F5 \
  "$work/disk.img" >/dev/null
dd if="$esp" of="$work/disk.img" bs=1M seek=1 conv=notrunc,sparse status=none
mkdir -p "$(dirname "$output")"
mv "$work/disk.img" "$output"
echo "make-usb: $output ($size_mib MiB$( ((vboard)) && echo ', test image with the virtual board'))"
