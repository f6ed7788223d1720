#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds the field kit: a GPT disk image with one EFI system partition (FAT32)
# whose \EFI\BOOT\BOOTX64.EFI is the kit itself (pellrix-kit.efi), which the
# board's firmware starts from its boot menu: the comparison test, the
# evidence of a failure kept on the stick, a final screen. pellrix.efi and
# pellrix-record.efi are beside it for engineers who bring their own shell.
# Write the image to a USB stick with dd or any image writer.
#
#   bash tools/make-usb.sh                 # build/pellrix-usb.img
#
# Options:
#   --output FILE    where the image goes (default build/pellrix-usb.img)
#   --size MIB       image size in MiB (default 512; each failed run takes
#                    about four times the flash part's size)
#   --prebuilt DIR   take the EFI programs from DIR, build nothing
#   --sign-key KEY --sign-cert CERT
#                    sign every EFI program on the stick for Secure Boot
#                    (sbsign; KEY a PEM private key, CERT its PEM certificate)
#   --shim           for boards that trust only their vendor's and Microsoft's
#                    keys: Debian's Microsoft-signed shim as BOOTX64.EFI,
#                    MokManager beside it, the kit (signed with --sign-key)
#                    as shim's second stage, and the lab certificate as
#                    \LAB.CER for a one-time enrolment in MokManager
#   --vboard         the test image: the test build of the kit, which loads
#                    vboard.efi from the stick first, and the virtual-board
#                    programs under the shipped names
#
# The same inputs give the same bytes, whatever the time zone, locale or
# umask: fixed volume id, GUIDs, time stamps and file order (a signature
# holds no time either).
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
sign_key=""
sign_cert=""
shim=0
source "$root/tools/version.sh"
# Installed, the command pellrix-make-usb hands over its EFI folder: the
# programs come from there, the image goes into the current directory, and
# the tree's own options (--prebuilt, --vboard) are not offered.
installed_efi=${PELLRIX_INSTALLED_EFI_DIR:-}
if [[ -n $installed_efi ]]; then
  name=pellrix-make-usb
  output=pellrix-usb.img
  output_shown="pellrix-usb.img in the current folder"
  tree_options=""
  tree_usage=""
else
  name=make-usb.sh
  output_shown="build/pellrix-usb.img in the tree"
  tree_options=" [--prebuilt DIR]"
  tree_usage=" [--vboard]"
fi
usage="usage: $name [--output FILE] [--size MIB]$tree_options [--sign-key KEY --sign-cert CERT [--shim]]$tree_usage"
help() {
  echo "$usage"
  cat <<HELP

Builds the field kit's USB stick image: a GPT disk with one EFI system
partition (FAT32) whose \\EFI\\BOOT\\BOOTX64.EFI is the kit, pellrix-kit.efi.

  --output FILE      where the image goes (default $output_shown)
  --size MIB         image size in MiB (default 512, at least 64)
HELP
  [[ -n $installed_efi ]] || echo "  --prebuilt DIR     take the EFI programs from DIR, build nothing"
  cat <<HELP
  --sign-key KEY     sign every EFI program on the stick (PEM private key)
  --sign-cert CERT   the key's PEM certificate (with --sign-key)
  --shim             Debian's Microsoft-signed shim as BOOTX64.EFI, the kit
                     as its second stage, the lab certificate as \\LAB.CER
HELP
  [[ -n $installed_efi ]] || echo "  --vboard           the test image, with the virtual board"
  echo "  --help, --version"
}
while (($#)); do
  case $1 in
    --help) help; exit 0 ;;
    --version) echo "pellrix-make-usb $(pellrix_version "$root")"; exit 0 ;;
    --output) output=$2; shift 2 ;;
    --size) size_mib=$2; shift 2 ;;
    --prebuilt) [[ -z $installed_efi ]] || { echo "$usage" >&2; exit 2; }; prebuilt=$2; shift 2 ;;
    --sign-key) sign_key=$2; shift 2 ;;
    --sign-cert) sign_cert=$2; shift 2 ;;
    --shim) shim=1; shift ;;
    --vboard) [[ -z $installed_efi ]] || { echo "$usage" >&2; exit 2; }; vboard=1; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
[[ $size_mib =~ ^[0-9]+$ ]] && ((size_mib >= 64)) || { echo "make-usb: --size needs at least 64 (MiB)" >&2; exit 2; }
[[ -z $sign_key && -z $sign_cert || -n $sign_key && -n $sign_cert ]] ||
  { echo "make-usb: --sign-key and --sign-cert go together" >&2; exit 2; }
((!shim)) || [[ -n $sign_key ]] || { echo "make-usb: --shim needs --sign-key and --sign-cert" >&2; exit 2; }
# Building from the tree installs what the build and the image need first;
# installed or with --prebuilt, nothing is installed.
[[ -n $installed_efi || -n $prebuilt ]] || bash "$root/tools/setup.sh" kit
# Every tool the options need, before any work: one line naming the package.
need() { command -v "$1" >/dev/null || { echo "make-usb: $1 not found (package $2)" >&2; exit 1; }; }
need mkfs.fat dosfstools
need mmd mtools
need mcopy mtools
need sgdisk gdisk
[[ -z $sign_key ]] || need sbsign sbsigntool
((!shim)) || need openssl openssl
# Debian's shim, signed by Microsoft, and its MokManager (package shim-signed).
shim_dir=${SHIM_DIR:-/usr/lib/shim}
shim_copyright=/usr/share/doc/shim-signed/copyright
if ((shim)); then
  for file in "$shim_dir/shimx64.efi.signed" "$shim_dir/mmx64.efi.signed" "$shim_copyright"; do
    [[ -f $file ]] || { echo "make-usb: $file is missing (package shim-signed)" >&2; exit 1; }
  done
fi

[[ -z $installed_efi ]] || prebuilt=$installed_efi
if [[ -z $prebuilt ]]; then
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  targets=(pellrix_kit_efi pellrix_efi pellrix_record_efi)
  ((vboard)) && targets+=(pellrix_kit_vboard_efi pellrix_vboard_efi pellrix_record_vboard_efi vboard_efi)
  cmake --build "$root/build" --target "${targets[@]}"
  prebuilt=$root/build
fi
# The kit first, then the shell programs, then the board's driver.
if ((vboard)); then
  programs=("$prebuilt/pellrix-kit-vboard.efi" "$prebuilt/pellrix-vboard.efi" "$prebuilt/pellrix-record-vboard.efi"
    "$prebuilt/vboard.efi")
else
  programs=("$prebuilt/pellrix-kit.efi" "$prebuilt/pellrix.efi" "$prebuilt/pellrix-record.efi")
fi
for program in "${programs[@]}"; do
  [[ -f $program ]] || { echo "make-usb: not built: $program" >&2; exit 1; }
done
[[ -f $root/LICENSE ]] || { echo "make-usb: $root/LICENSE is missing" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Each program as it goes on the stick: signed when a key is given.
stick_programs=()
for program in "${programs[@]}"; do
  copy=$work/$(basename "$program")
  if [[ -n $sign_key ]]; then
    sbsign --key "$sign_key" --cert "$sign_cert" --output "$copy" "$program" 2>"$work/sbsign.err" ||
      { cat "$work/sbsign.err" >&2; exit 1; }
  else
    cp "$program" "$copy"
  fi
  stick_programs+=("$copy")
done

# Text files for the stick get CRLF line ends.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf "$root/tools/usb/README.TXT" "$work/README.TXT"
crlf "$root/LICENSE" "$work/LICENSE.TXT"

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
if ((shim)); then
  # shim starts grubx64.efi beside itself once it trusts it (db, or the
  # machine owner's key list), else MokManager to enrol \LAB.CER.
  crlf "$shim_copyright" "$work/SHIM-COPYRIGHT.TXT"
  openssl x509 -in "$sign_cert" -outform DER -out "$work/LAB.CER"
  mcopy -i "$esp" "$shim_dir/shimx64.efi.signed" ::/EFI/BOOT/BOOTX64.EFI
  mcopy -i "$esp" "$shim_dir/mmx64.efi.signed" ::/EFI/BOOT/mmx64.efi
  mcopy -i "$esp" "${stick_programs[0]}" ::/EFI/BOOT/grubx64.efi
  mcopy -i "$esp" "$work/SHIM-COPYRIGHT.TXT" ::/EFI/BOOT/SHIM-COPYRIGHT.TXT
  mcopy -i "$esp" "$work/LAB.CER" ::/LAB.CER
else
  mcopy -i "$esp" "${stick_programs[0]}" ::/EFI/BOOT/BOOTX64.EFI
fi
mcopy -i "$esp" "$work/README.TXT" ::/README.TXT
mcopy -i "$esp" "$work/LICENSE.TXT" ::/LICENSE.TXT
mcopy -i "$esp" "${stick_programs[1]}" ::/pellrix.efi
mcopy -i "$esp" "${stick_programs[2]}" ::/pellrix-record.efi
((vboard)) && mcopy -i "$esp" "${stick_programs[3]}" ::/vboard.efi

truncate -s "$((sectors * 512))" "$work/disk.img"
sgdisk -U 5A7B2C10-3E4F-4D6A-8B9C-0D1E2F3A4B5C \
  -n "1:$first:$last" -t 1:EF00 -c "1:PELLRIX" -u 1:6C1D0E2F-4A5B-4C7D-9E8F-A0B1C2D3E4F5 \
  "$work/disk.img" >/dev/null
dd if="$esp" of="$work/disk.img" bs=1M seek=1 conv=notrunc,sparse status=none
mkdir -p "$(dirname "$output")"
mv "$work/disk.img" "$output"
echo "make-usb: $output ($size_mib MiB$( ((vboard)) && echo ', test image with the virtual board')$([[ -n $sign_key ]] && echo ', signed')$( ((shim)) && echo ', through shim'))"
