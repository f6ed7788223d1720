#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# A save onto a FAT volume with less free space than the chip, in OVMF's real
# UEFI Shell on the virtual board: the save must fail with 0x82, leave the
# earlier MAIN.BIN byte for byte as it was, and leave no temporary file. A
# board record on the same volume fails the same way: 0x82, the earlier
# PELLRIX.REC as it was, no temporary file, the start-up chip active.
#
# usage: run_disk_full_test.sh BUILD_DIR [WORK_DIR]
#   BUILD_DIR holds pellrix-sim, pellrix-vboard.efi, pellrix-record-vboard.efi,
#   vboard.efi and vbactive.efi.
# Environment: OVMF_CODE, OVMF_VARS, QEMU, QEMU_TIMEOUT as for the other
# UEFI Shell tests.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=shell_boot.sh
source "$here/shell_boot.sh"

uefi_test_settings uefi_disk_full 300

[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 BUILD_DIR [WORK_DIR]" >&2; exit 2; }
require_vboard_build "$1"
make_work_dir "${2:-}"

# The sample board: two 16 MiB chips.
"$build/pellrix-sim" --write-sample "$work/board" -- >/dev/null || fail "pellrix-sim --write-sample failed"
mkdir -p "$work/fs/dump"
"$build/pellrix-sim" --board "$work/board/board.json" --write-vboard "$work/fs" -- || fail "--write-vboard failed"
cp "${images[@]}" "$work/fs/"
# The earlier dump that must survive: 1 MiB of a known pattern.
head -c 1048576 /dev/urandom >"$work/earlier.bin"
cp "$work/earlier.bin" "$work/fs/dump/MAIN.BIN"
# An earlier record that must survive: a small board description and images.
mkdir -p "$work/fs/dump/PELLRIX.REC"
echo '{"chips": {}}' >"$work/fs/dump/PELLRIX.REC/board.json"
head -c 65536 /dev/urandom >"$work/fs/dump/PELLRIX.REC/main.rom"
head -c 65536 /dev/urandom >"$work/fs/dump/PELLRIX.REC/backup.rom"
cp -r "$work/fs/dump/PELLRIX.REC" "$work/earlier.rec"
{
  echo "@echo -off"
  echo "fs0:"
  echo "load vboard.efi"
  echo "cd dump"
  echo "fs0:\\pellrix-vboard.efi /s 1"
  echo "echo \"=== status %lasterror% ===\""
  echo "fs0:\\pellrix-record-vboard.efi"
  echo "echo \"=== record status %lasterror% ===\""
  echo "fs0:\\vbactive.efi"
  echo "echo \"=== record active %lasterror% ===\""
  echo "cd \\"
  echo "echo \"=== all cases run ===\""
  echo "reset -s"
} | sed 's/$/\r/' >"$work/fs/startup.nsh"

# Room for what the volume holds now and 6 MiB more: far less than the chip.
used_kib=$(du -sk "$work/fs" | cut -f1)
mkfs.fat -F 32 -n DISKFULL -C "$work/fat.img" $((used_kib + 6144)) >/dev/null || fail "mkfs.fat failed"
mcopy -s -i "$work/fat.img" "$work"/fs/* ::/ || fail "mcopy into the FAT image failed"
free_clusters=$(minfo -i "$work/fat.img" :: 2>/dev/null | sed -n 's/.*free clusters=\([0-9]*\).*/\1/p')
echo "uefi_disk_full: FAT volume with ${free_clusters:-?} free clusters, a 16 MiB chip to save"

boot_uefi_shell "$work" "$work/fat.img" 512M || fail "$boot_problem"
console=$(sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$work/serial.log" | tr -d '\r')
grep -qx '=== status 0x82 ===' <<<"$console" ||
  fail "the save did not end with 0x82: $(grep '=== status' <<<"$console")"
grep -qF '!!! Fail to save BIOS !!!' <<<"$console" || fail "the console lacks the failure line"
mkdir -p "$work/after"
mcopy -s -n -i "$work/fat.img" ::/dump "$work/after/" || fail "cannot copy the directory out of the FAT image"
left=$(cd "$work/after/dump" && ls -A | tr '\n' ' ')
[[ $left == "MAIN.BIN PELLRIX.REC " ]] || fail "the directory holds [$left] instead of the earlier MAIN.BIN and PELLRIX.REC alone"
cmp -s "$work/after/dump/MAIN.BIN" "$work/earlier.bin" || fail "the earlier MAIN.BIN was changed"
echo "uefi_disk_full: the failed save ended with 0x82 and left the earlier MAIN.BIN intact"
grep -qx '=== record status 0x82 ===' <<<"$console" ||
  fail "the record did not end with 0x82: $(grep '=== record status' <<<"$console")"
grep -qF '!!! Fail to record the board !!!' <<<"$console" || fail "the console lacks the record's failure line"
grep -qx '=== record active 0x0 ===' <<<"$console" || fail "the record did not leave the start-up chip active"
diff -r "$work/earlier.rec" "$work/after/dump/PELLRIX.REC" >&2 || fail "the earlier PELLRIX.REC was changed"
echo "uefi_disk_full: the failed record ended with 0x82 and left the earlier PELLRIX.REC intact"
