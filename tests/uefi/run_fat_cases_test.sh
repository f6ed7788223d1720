#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Saves and records on FAT volumes laid out the way that trips a FAT driver,
# in OVMF's real UEFI Shell on the virtual board, each volume checked
# afterwards with mtools and fsck.fat:
#   FS1: a folder whose directory cluster has room for the new file's entry
#        but not for the aside name, on a volume whose free space is exactly
#        the image: the save is refused (0x82), the earlier MAIN.BIN intact;
#   FS2: MAIN.BIN without a creation date (saved), a folder named MAIN.BIN
#        (refused, untouched), a lone MAIN.BIN.OLD over two saves (kept by the
#        first, removed by the second), and an earlier record holding a
#        read-only backup.rom (the record is refused, the earlier one whole).
#
# usage: run_fat_cases_test.sh BUILD_DIR [WORK_DIR]
# Environment: OVMF_CODE, OVMF_VARS, QEMU, QEMU_TIMEOUT as for the other
# UEFI Shell tests.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=shell_boot.sh
source "$here/shell_boot.sh"

uefi_test_settings uefi_fat_cases 400

[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 BUILD_DIR [WORK_DIR]" >&2; exit 2; }
require_vboard_build "$1"
make_work_dir "${2:-}"
export MTOOLS_SKIP_CHECK=1

free_bytes() {  # what mtools reports free on the volume
  mdir -i "$1" :: 2>/dev/null | sed -n 's/ bytes free//p' | tr -d ' '
}

# FS0: the board and the programs.
"$build/pellrix-sim" --write-sample "$work/board" -- >/dev/null || fail "pellrix-sim --write-sample failed"
mkdir -p "$work/fs"
"$build/pellrix-sim" --board "$work/board/board.json" --write-vboard "$work/fs" -- || fail "--write-vboard failed"
cp "${images[@]}" "$work/fs/"
chip_bytes=$(stat -c %s "$work/board/main.rom")

# FS1: 4 KiB clusters; DUMP holds ".", "..", MAIN.BIN and 123 empty files,
# which leaves two free entries in its one cluster.
head -c 1048576 /dev/urandom >"$work/earlier.bin"
mkfs.fat -F 16 -s 8 -S 512 -n GROWTH -C "$work/growth.img" 49152 >/dev/null || fail "mkfs.fat failed"
mmd -i "$work/growth.img" ::DUMP && mcopy -i "$work/growth.img" "$work/earlier.bin" ::DUMP/MAIN.BIN ||
  fail "cannot fill the growth volume"
mkdir -p "$work/empty"
for i in $(seq -w 1 123); do : >"$work/empty/F$i"; done
mcopy -i "$work/growth.img" "$work"/empty/* ::DUMP/ || fail "cannot add the empty files"
room=$(free_bytes "$work/growth.img")
((room > chip_bytes)) || fail "the growth volume is too small"
head -c $((room - chip_bytes)) /dev/zero >"$work/fill.bin"
mcopy -i "$work/growth.img" "$work/fill.bin" ::FILL.BIN || fail "cannot fill the growth volume"
[[ $(free_bytes "$work/growth.img") == "$chip_bytes" ]] ||
  fail "the growth volume has $(free_bytes "$work/growth.img") bytes free, not $chip_bytes"
: >"$work/GROWTH.TAG" && mcopy -i "$work/growth.img" "$work/GROWTH.TAG" ::GROWTH.TAG

# FS2: the odd entries, each in a folder of its own.
mkfs.fat -F 32 -n CASES -C "$work/cases.img" $((300 * 1024)) >/dev/null || fail "mkfs.fat failed"
mmd -i "$work/cases.img" ::NODATE && mcopy -i "$work/cases.img" "$work/earlier.bin" ::NODATE/MAIN.BIN ||
  fail "cannot write NODATE"
# Clear the creation and last-access dates of that one directory entry, as
# writers that keep no dates leave them.
python3 - "$work/cases.img" <<'PY' || fail "cannot clear MAIN.BIN's dates"
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
hits = [i for i in range(0, len(data), 32) if data[i:i + 11] == b"MAIN    BIN" and data[i + 11] & 0x18 == 0]
if len(hits) != 1:
    sys.exit(f"{len(hits)} MAIN.BIN entries")
data[hits[0] + 13:hits[0] + 20] = bytes(7)
open(path, "wb").write(data)
PY
mmd -i "$work/cases.img" ::DIRDUMP ::DIRDUMP/MAIN.BIN ::LONEOLD1 ::LONEOLD2 ::ROREC ::ROREC/PELLRIX.REC
echo kept >"$work/KEEP.TXT"
mcopy -i "$work/cases.img" "$work/KEEP.TXT" ::DIRDUMP/MAIN.BIN/KEEP.TXT
echo aside >"$work/aside.txt"
mcopy -i "$work/cases.img" "$work/aside.txt" ::LONEOLD1/MAIN.BIN.OLD
mcopy -i "$work/cases.img" "$work/aside.txt" ::LONEOLD2/MAIN.BIN.OLD
mkdir -p "$work/earlier.rec"
echo '{"chips": {}}' >"$work/earlier.rec/board.json"
head -c 65536 /dev/urandom >"$work/earlier.rec/main.rom"
head -c 65536 /dev/urandom >"$work/earlier.rec/backup.rom"
mcopy -i "$work/cases.img" "$work"/earlier.rec/* ::ROREC/PELLRIX.REC/ || fail "cannot write the earlier record"
mattrib -i "$work/cases.img" +r ::ROREC/PELLRIX.REC/backup.rom || fail "mattrib failed"
: >"$work/CASES.TAG" && mcopy -i "$work/cases.img" "$work/CASES.TAG" ::CASES.TAG

save='fs0:\pellrix-vboard.efi /s 1'
{
  echo "@echo -off"
  echo "fs0:"
  echo "load vboard.efi"
  echo "if exist fs1:\\GROWTH.TAG then"
  echo "  echo \"=== fs1 is the growth volume ===\""
  echo "endif"
  echo "if exist fs2:\\CASES.TAG then"
  echo "  echo \"=== fs2 is the cases volume ===\""
  echo "endif"
  echo "fs1:"
  echo "cd \\DUMP"
  echo "$save"
  echo "echo \"=== growth status %lasterror% ===\""
  echo "fs2:"
  echo "cd \\NODATE"
  echo "$save"
  echo "echo \"=== nodate status %lasterror% ===\""
  echo "cd \\DIRDUMP"
  echo "$save"
  echo "echo \"=== folder status %lasterror% ===\""
  echo "cd \\LONEOLD1"
  echo "$save"
  echo "echo \"=== lone aside status %lasterror% ===\""
  echo "cd \\LONEOLD2"
  echo "$save"
  echo "$save"
  echo "echo \"=== lone aside twice status %lasterror% ===\""
  echo "cd \\ROREC"
  echo "fs0:\\pellrix-record-vboard.efi"
  echo "echo \"=== read-only record status %lasterror% ===\""
  echo "fs0:\\vbactive.efi"
  echo "echo \"=== active %lasterror% ===\""
  echo "fs0:"
  echo "echo \"=== all cases run ===\""
  echo "reset -s"
} | sed 's/$/\r/' >"$work/fs/startup.nsh"

used_kib=$(du -sk "$work/fs" | cut -f1)
mkfs.fat -F 32 -n PROGRAMS -C "$work/fat.img" $((used_kib + 8192)) >/dev/null || fail "mkfs.fat failed"
mcopy -s -i "$work/fat.img" "$work"/fs/* ::/ || fail "mcopy into the FAT image failed"

extra_drives=("$work/growth.img" "$work/cases.img")
boot_uefi_shell "$work" "$work/fat.img" 512M || fail "$boot_problem"
console=$(sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$work/serial.log" | tr -d '\r')
expect_line() {
  grep -qx "$1" <<<"$console" || fail "the console lacks '$1': $(grep '^===' <<<"$console" | tr '\n' ' ')"
}
expect_line '=== fs1 is the growth volume ==='
expect_line '=== fs2 is the cases volume ==='
listing() {  # the names in a folder of an image, sorted, on one line
  mdir -b -i "$1" "::$2" 2>/dev/null | sed 's|/$||; s|.*/||' | LC_ALL=C sort | tr '\n' ' '
}
for image in growth cases; do
  fsck.fat -n "$work/$image.img" >"$work/fsck-$image.log" 2>&1 ||
    fail "fsck.fat finds faults on the $image volume: $(cat "$work/fsck-$image.log")"
done
echo "uefi_fat_cases: fsck.fat finds both volumes clean"

expect_line '=== growth status 0x82 ==='
expected=$( (cd "$work/empty" && ls; echo MAIN.BIN) | LC_ALL=C sort | tr '\n' ' ')
[[ $(listing "$work/growth.img" DUMP) == "$expected" ]] ||
  fail "DUMP holds [$(listing "$work/growth.img" DUMP)]"
mcopy -n -i "$work/growth.img" ::DUMP/MAIN.BIN "$work/growth-main.bin" && cmp -s "$work/growth-main.bin" "$work/earlier.bin" ||
  fail "the earlier MAIN.BIN on the growth volume was changed"
echo "uefi_fat_cases: no room for the renames: refused with 0x82, the earlier MAIN.BIN intact"

expect_line '=== nodate status 0x80 ==='
[[ $(listing "$work/cases.img" NODATE) == "MAIN.BIN " ]] || fail "NODATE holds [$(listing "$work/cases.img" NODATE)]"
mcopy -n -i "$work/cases.img" ::NODATE/MAIN.BIN "$work/nodate.bin" && cmp -s "$work/nodate.bin" "$work/board/main.rom" ||
  fail "NODATE/MAIN.BIN is not the Main chip"
echo "uefi_fat_cases: a MAIN.BIN without dates was replaced"

expect_line '=== folder status 0x82 ==='
[[ $(listing "$work/cases.img" DIRDUMP/MAIN.BIN) == "KEEP.TXT " ]] ||
  fail "the folder MAIN.BIN holds [$(listing "$work/cases.img" DIRDUMP/MAIN.BIN)]"
[[ $(listing "$work/cases.img" DIRDUMP) == "MAIN.BIN " ]] || fail "DIRDUMP holds [$(listing "$work/cases.img" DIRDUMP)]"
echo "uefi_fat_cases: a folder named MAIN.BIN was refused and left alone"

expect_line '=== lone aside status 0x80 ==='
expect_line '=== lone aside twice status 0x80 ==='
[[ $(listing "$work/cases.img" LONEOLD1) == "MAIN.BIN MAIN.BIN.OLD " ]] ||
  fail "after one save LONEOLD1 holds [$(listing "$work/cases.img" LONEOLD1)]"
mcopy -n -i "$work/cases.img" ::LONEOLD1/MAIN.BIN.OLD "$work/lone.txt" && cmp -s "$work/lone.txt" "$work/aside.txt" ||
  fail "the lone MAIN.BIN.OLD was changed by the first save"
[[ $(listing "$work/cases.img" LONEOLD2) == "MAIN.BIN " ]] ||
  fail "after two saves LONEOLD2 holds [$(listing "$work/cases.img" LONEOLD2)]"
echo "uefi_fat_cases: a lone MAIN.BIN.OLD lasts one save"

expect_line '=== read-only record status 0x82 ==='
expect_line '=== active 0x0 ==='
[[ $(listing "$work/cases.img" ROREC) == "PELLRIX.REC " ]] || fail "ROREC holds [$(listing "$work/cases.img" ROREC)]"
mkdir -p "$work/after"
mcopy -s -n -i "$work/cases.img" ::ROREC/PELLRIX.REC "$work/after/" || fail "cannot copy the record out"
diff -r "$work/earlier.rec" "$work/after/PELLRIX.REC" >&2 || fail "the earlier record was changed"
echo "uefi_fat_cases: an earlier record with a read-only file was kept whole"
