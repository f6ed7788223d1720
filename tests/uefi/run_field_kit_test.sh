#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The field kit's round trip. The shipped image is built twice (identical
# bytes, nothing of the virtual board in it); the test image boots in QEMU
# from its own BOOTX64.EFI and runs its startup.nsh by itself, twice on one
# stick: on a board that passes (RUN001: log and PASS result, no dumps) and
# on one with a changed driver on the Backup chip (RUN002: log, both chips
# byte for byte, the board record, a FAIL result with 0x8E). Then the
# explain step on RUN002 must name the changed driver's file, and its replay
# command must give the console and status the real shell logged. A boot
# after a gap in the numbers must take the folder after the highest. Then the
# cases where the kit must not hide a failure: a board whose switch back to
# Main fails, a board without the dual-chip service, a stick too small for the
# evidence, a full one and a write-protected one; each must show its verdict.
# The time from QEMU's start to the verdict is measured on every boot.
#
# usage: run_field_kit_test.sh SOURCE_DIR BUILD_DIR [WORK_DIR]
# Environment: OVMF_CODE, OVMF_VARS, QEMU, QEMU_TIMEOUT as for the other
# UEFI Shell tests.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=shell_boot.sh
source "$here/shell_boot.sh"
cases_tool=$here/vboard_cases.py

uefi_test_settings field_kit 300
export MTOOLS_SKIP_CHECK=1

[[ $# -ge 2 && $# -le 3 ]] || { echo "usage: $0 SOURCE_DIR BUILD_DIR [WORK_DIR]" >&2; exit 2; }
source_dir=$(cd "$1" && pwd) || fail "no such directory: $1"
build=$(cd "$2" && pwd) || fail "no such directory: $2"
for file in pellrix-sim diff/pellrix-diff pellrix.efi pellrix-record.efi pellrix-vboard.efi pellrix-record-vboard.efi vboard.efi; do
  [[ -f $build/$file ]] || fail "not built: $build/$file"
done
for tool in sgdisk mcopy mkfs.fat UEFIExtract "$qemu"; do
  command -v "$tool" >/dev/null || fail "$tool not found (bash tools/setup.sh installs it)"
done
make_work_dir "${3:-}"
make_usb=$source_dir/tools/make-usb.sh

# The partition's FAT volume inside a disk image, for mtools.
esp() { echo "$1@@1M"; }

# --- The check of the extracted shell -------------------------------------------------
# pellrix.efi passes it; each of its header fields changed must fail it.
check_app=$source_dir/tools/usb/check-efi-app.sh
bash "$check_app" "$build/pellrix.efi" || fail "check-efi-app.sh rejects pellrix.efi"
pe=$(od -An -tu4 -j 60 -N 4 --endian=little "$build/pellrix.efi" | tr -d ' ')
# Writes pellrix.efi with the 16-bit field at OFFSET set to VALUE into FILE.
patched() { cp "$build/pellrix.efi" "$3" && perl -e 'print pack("v", $ARGV[0])' $(($2)) | dd of="$3" bs=1 seek="$1" conv=notrunc status=none; }
declare -A field=([machine]=$((pe + 4)):0x14C [magic]=$((pe + 24)):0x10B [subsystem]=$((pe + 92)):11 [signature]=$pe:0 [mz]=0:0)
for what in "${!field[@]}"; do
  patched "${field[$what]%%:*}" "${field[$what]#*:}" "$work/$what.efi"
  ! bash "$check_app" "$work/$what.efi" 2>/dev/null || fail "check-efi-app.sh accepts pellrix.efi with another $what"
done
head -c 100 "$build/pellrix.efi" >"$work/short.efi"
! bash "$check_app" "$work/short.efi" 2>/dev/null || fail "check-efi-app.sh accepts a cut-short image"

# --- The shipped image ----------------------------------------------------------------
bash "$make_usb" --prebuilt "$build" --output "$work/ship-1.img" >/dev/null || fail "make-usb.sh failed"
bash "$make_usb" --prebuilt "$build" --output "$work/ship-2.img" >/dev/null || fail "make-usb.sh failed the second time"
cmp "$work/ship-1.img" "$work/ship-2.img" >&2 || fail "two builds of the image differ"
sgdisk -i 1 "$work/ship-1.img" | grep -q 'EFI system partition' || fail "partition 1 is not an EFI system partition"
listing=$(mdir -/ -b -i "$(esp "$work/ship-1.img")" :: | LC_ALL=C sort | tr '\n' ' ')
want="::/EFI/ ::/EFI/BOOT/ ::/EFI/BOOT/BOOTX64.EFI ::/EFI/BOOT/SHELL-COPYRIGHT.TXT ::/EFI/BOOT/digit.nsh"
want+=" ::/EFI/BOOT/highest.nsh ::/EFI/BOOT/nextrun.nsh ::/EFI/BOOT/startup.nsh ::/README.TXT ::/pellrix-record.efi ::/pellrix.efi "
[[ $listing == "$want" ]] || fail "the shipped image holds [$listing] instead of [$want]"
mkdir -p "$work/shipped"
mcopy -n -i "$(esp "$work/ship-1.img")" ::/pellrix.efi ::/pellrix-record.efi ::/EFI/BOOT/startup.nsh "$work/shipped/" ||
  fail "cannot copy out of the shipped image"
cmp -s "$work/shipped/pellrix.efi" "$build/pellrix.efi" || fail "the shipped pellrix.efi is not the real build's"
cmp -s "$work/shipped/pellrix-record.efi" "$build/pellrix-record.efi" || fail "the shipped pellrix-record.efi is not the real build's"
echo "field_kit: the shipped image is reproducible and holds the kit alone"

# --- The test image: the same startup.nsh with the board loaded -----------------------
kit=$work/kit.img
bash "$make_usb" --prebuilt "$build" --vboard --size 192 --output "$kit" >/dev/null || fail "make-usb.sh --vboard failed"
mcopy -n -i "$(esp "$kit")" ::/EFI/BOOT/startup.nsh "$work/test-startup.nsh" || fail "cannot copy the test startup.nsh"
added=$(diff "$work/shipped/startup.nsh" "$work/test-startup.nsh" | grep '^[<>]' | tr -d '\r')
[[ $added == "> load vboard.efi" ]] || fail "the test startup.nsh differs from the shipped one by [$added]"

timeout 60 "$build/pellrix-sim" --write-sample "$work/sample-source" -- >/dev/null || fail "pellrix-sim --write-sample failed"

# Puts board NAME on the stick (VBOARD.BIN, MAIN.ROM, BACK.ROM beside
# vboard.efi) and boots it; the console is in $work/NAME/serial.log.
boot_board() {
  local name=$1 dir=$work/$1
  mkdir -p "$dir/vboard"
  python3 "$cases_tool" make-board "$name" "$work/sample-source" "$dir/board" || fail "$name: cannot make the board"
  timeout 60 "$build/pellrix-sim" --board "$dir/board/board.json" --write-vboard "$dir/vboard" -- ||
    fail "$name: pellrix-sim --write-vboard failed"
  mcopy -o -i "$(esp "$kit")" "$dir/vboard"/* ::/ || fail "$name: cannot put the board on the stick"
  if [[ -n ${fill_to:-} ]]; then fill_stick "$fill_to"; fi
  boot_timed=('seconds to skip' '^Pellrix: comparison test running' '^Pellrix: (PASS|FAIL|this board)')
  boot_uefi_shell "$dir" "$kit" 512M prompt || fail "$name: $boot_problem"
  sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$dir/serial.log" | tr -d '\r' >"$dir/console.txt"
  grep -q '^BdsDxe: starting Boot0001 "UEFI QEMU \(HARDDISK\|QEMU USB HARDDRIVE\)' "$dir/console.txt" ||
    fail "$name: OVMF did not start the stick's BOOTX64.EFI"
  # From the countdown (skipped at once by a key) to the test's line, and from
  # QEMU's start to the verdict, in tenths of a second.
  local countdown=${boot_timed_at[0]:-} test=${boot_timed_at[1]:-} verdict=${boot_timed_at[2]:-}
  [[ -n $countdown && -n $test && -n $verdict ]] || fail "$name: the countdown, the test's line or the verdict never showed"
  printf 'field_kit: %s: countdown to test start %d.%d s, boot to verdict %d.%d s\n' "$name" \
    $(((test - countdown) / 10)) $(((test - countdown) % 10)) $((verdict / 10)) $((verdict % 10))
}

# Leaves BYTES free on the stick with a filler file.
fill_stick() {
  local free
  free=$(mdir -i "$(esp "$kit")" :: | sed -n 's/ *\([0-9 ]*\) bytes free/\1/p' | tr -d ' ')
  [[ -n $free ]] && ((free > $1)) || fail "cannot read the stick's free space"
  head -c $((free - $1)) /dev/zero >"$work/FILLER.BIN"
  mcopy -o -i "$(esp "$kit")" "$work/FILLER.BIN" ::/ || fail "cannot fill the stick"
  rm -f "$work/FILLER.BIN"
}

# Whether the last boot of board NAME showed LINE on the screen.
said() { grep -qxF -- "$2" "$work/$1/console.txt"; }

# Copies the stick's run folders out into DIR.
copy_runs() {
  mkdir -p "$1"
  mdir -/ -b -i "$(esp "$kit")" :: | sed -n 's|^::/\(RUN[0-9]*\)/$|\1|p' | sort >"$1.list"
  while read -r folder; do
    mcopy -s -n -i "$(esp "$kit")" "::/$folder" "$1/" || fail "cannot copy $folder off the stick"
  done <"$1.list"
}

# The comparison's part of a kit log (after its "== pellrix.efi" line, up to
# the next "== " line) with CRLF turned into LF, as pellrix-sim prints it.
compare_log() { perl -0777 -ne 'print $1 =~ s/\r\n/\n/gr if /^== pellrix\.efi\r\n(.*?)(?=^== |\z)/sm' "$1"; }

# Runs pellrix-sim (ARGS...) and requires its console and status to be what
# the kit logged in RUN: the comparison's console and RESULT.TXT's status.
same_as_logged() {
  local what=$1 run=$2 out status logged
  shift 2
  out=$work/$what.sim.txt
  timeout 120 "$@" >"$out" 2>"$work/$what.sim.err"
  status=$?
  compare_log "$run/PELLRIX.LOG" >"$work/$what.log.txt"
  [[ -s $work/$what.log.txt ]] || fail "$what: PELLRIX.LOG holds no comparison"
  diff -u --label "pellrix-sim ($what)" --label "the real shell's log" "$out" "$work/$what.log.txt" | head -n 40 >&2
  cmp -s "$out" "$work/$what.log.txt" || fail "$what: pellrix-sim's console differs from the logged one"
  logged=$(sed -n 's/.*comparison=\(0x[0-9A-Fa-f]*\).*/\1/p' "$run/RESULT.TXT")
  [[ -n $logged ]] && ((status == logged)) || fail "$what: pellrix-sim ended with $status, the kit recorded ${logged:-nothing}"
}

# --- Board 1: passes ------------------------------------------------------------------
boot_board sample
grep -qx 'Pellrix: PASS (0x80), the log is in RUN001 on fs0:' "$work/sample/console.txt" ||
  fail "sample: no PASS line naming RUN001: $(grep 'Pellrix:' "$work/sample/console.txt")"
copy_runs "$work/after-1"
[[ $(cat "$work/after-1.list") == RUN001 ]] || fail "sample: the stick holds [$(tr '\n' ' ' <"$work/after-1.list")] instead of RUN001"
run1=$work/after-1/RUN001
[[ $(cd "$run1" && ls -A | tr '\n' ' ') == "PELLRIX.LOG RESULT.TXT " ]] ||
  fail "sample: RUN001 holds [$(cd "$run1" && ls -A | tr '\n' ' ')] instead of the log and the result"
[[ $(tr -d '\r' <"$run1/RESULT.TXT") == "PASS comparison=0x80" ]] || fail "sample: RESULT.TXT is [$(cat "$run1/RESULT.TXT")]"
same_as_logged sample "$run1" "$build/pellrix-sim" --board "$work/sample/board/board.json" --
echo "field_kit: a passing board left RUN001 with its log and PASS, nothing else"

# --- Board 2: a changed driver on Backup ----------------------------------------------
boot_board changed-driver
grep -qx 'Pellrix: FAIL (0x8E data mismatch), the evidence is in RUN002 on fs0:' "$work/changed-driver/console.txt" ||
  fail "changed-driver: no line naming the evidence in RUN002: $(grep 'Pellrix:' "$work/changed-driver/console.txt")"
copy_runs "$work/after-2"
[[ $(tr '\n' ' ' <"$work/after-2.list") == "RUN001 RUN002 " ]] ||
  fail "changed-driver: the stick holds [$(tr '\n' ' ' <"$work/after-2.list")] instead of RUN001 and RUN002"
diff -r "$run1" "$work/after-2/RUN001" >&2 || fail "changed-driver: the second run changed RUN001"
run2=$work/after-2/RUN002
board=$work/changed-driver/board
[[ $(cd "$run2" && ls -A | tr '\n' ' ') == "BACKUP.BIN MAIN.BIN PELLRIX.LOG PELLRIX.REC RESULT.TXT " ]] ||
  fail "changed-driver: RUN002 holds [$(cd "$run2" && ls -A | tr '\n' ' ')]"
cmp "$run2/MAIN.BIN" "$board/main.rom" >&2 || fail "changed-driver: MAIN.BIN is not the board's Main chip"
cmp "$run2/BACKUP.BIN" "$board/backup.rom" >&2 || fail "changed-driver: BACKUP.BIN is not the board's Backup chip"
result=$(tr -d '\r' <"$run2/RESULT.TXT")
[[ $result == "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80" ]] ||
  fail "changed-driver: RESULT.TXT is [$result]"
# The record was taken after both saves: it must find the start-up chip
# active and describe the board truly.
problems=$(python3 "$cases_tool" check-record changed-driver "$board/board.json" "$run2/PELLRIX.REC" "=== record status 0x80 ===" -)
[[ -z $problems ]] || fail "changed-driver: the record: ${problems//$'\n'/; }"
echo "field_kit: a failing board left RUN002 with its log, both chips, the record and the statuses"

# --- The explain step -----------------------------------------------------------------
explained=$work/explain.txt
PELLRIX_BUILD_DIR=$build bash "$source_dir/tools/explain-run.sh" "$run2" >"$explained" 2>&1 ||
  { cat "$explained" >&2; fail "explain-run.sh failed on RUN002"; }
changed=$(python3 "$cases_tool" changed-file)
# Line numbers of the three parts' headings, which must come in this order.
at() { grep -n -m1 "$1" "$explained" | cut -d: -f1; }
result_at=$(at '^== On-board result') diff_at=$(at '^== pellrix-diff .*MAIN.BIN .*BACKUP.BIN$') replay_at=$(at '^== Replay the recorded board$')
[[ -n $result_at && -n $diff_at && -n $replay_at ]] && ((result_at < diff_at && diff_at < replay_at)) ||
  fail "explain-run.sh's parts are missing or out of order (lines ${result_at:-none}, ${diff_at:-none}, ${replay_at:-none})"
part() { sed -n "$1,$2p" "$explained"; }
part "$result_at" "$diff_at" | grep -q "FAIL comparison=0x8E" || fail "explain-run.sh does not show the on-board result"
part "$result_at" "$diff_at" | grep -q 'Pellgard comparison test FAIL !!!' || fail "explain-run.sh does not show the logged verdict"
# The report names the driver's GUID only as the file that differs.
part "$diff_at" "$replay_at" | grep -qiF "$changed" ||
  { cat "$explained" >&2; fail "explain-run.sh does not name the changed driver $changed"; }
replay=$(grep -A1 -x '== Replay the recorded board' "$explained" | tail -n 1)
[[ $replay == *PELLRIX.REC/board.json* ]] || fail "explain-run.sh gives no replay command: [$replay]"
eval "same_as_logged replay \"\$run2\" $replay"
echo "field_kit: the explanation names $changed, and its replay command gives the console and status the real shell logged"

# --- The numbering: a later folder present, earlier ones free --------------------------
mmd -i "$(esp "$kit")" ::/RUN007 || fail "cannot make RUN007 on the stick"
boot_board sample
grep -qx 'Pellrix: PASS (0x80), the log is in RUN008 on fs0:' "$work/sample/console.txt" ||
  fail "after RUN007: no PASS line naming RUN008: $(grep 'Pellrix:' "$work/sample/console.txt")"
copy_runs "$work/after-3"
[[ $(tr '\n' ' ' <"$work/after-3.list") == "RUN001 RUN002 RUN007 RUN008 " ]] ||
  fail "after RUN007: the stick holds [$(tr '\n' ' ' <"$work/after-3.list")]"
echo "field_kit: the next run took RUN008 after RUN007, leaving RUN003 to RUN006 unused"
# --- A board whose switch back to Main fails ------------------------------------------
# The comparison reads both chips and cannot return to Main: FAIL with 0x84,
# the save of Main and the record cannot reach Main either, and the kit says
# that the evidence is incomplete.
boot_board ignore-main
said ignore-main 'Pellrix: FAIL (0x84 switch failed), the evidence is in RUN009 on fs0:' ||
  fail "ignore-main: no FAIL line naming RUN009: $(grep 'Pellrix:' "$work/ignore-main/console.txt")"
said ignore-main 'Pellrix: the evidence is incomplete, a save or the record could not be kept: see RUN009\PELLRIX.LOG' ||
  fail "ignore-main: no line saying the evidence is incomplete"
copy_runs "$work/after-4"
run9=$work/after-4/RUN009
result=$(tr -d '\r' <"$run9/RESULT.TXT")
[[ $result == "FAIL comparison=0x84 save-main=0x84 save-backup=0x80 record=0x82" ]] || fail "ignore-main: RESULT.TXT is [$result]"
compare_log "$run9/PELLRIX.LOG" | grep -q $'^!! Unable to switch to Main BIOS !!$' ||
  fail "ignore-main: the comparison does not report the failed switch back"
[[ ! -e $run9/MAIN.BIN ]] || fail "ignore-main: a MAIN.BIN was saved though Main could not be reached"
PELLRIX_BUILD_DIR=$build bash "$source_dir/tools/explain-run.sh" "$run9" >"$work/explain-9.txt" 2>&1
(($? == 1)) || { cat "$work/explain-9.txt" >&2; fail "explain-run.sh does not call RUN009's evidence incomplete"; }
echo "field_kit: a board left on Backup is a FAIL with 0x84, and the missing evidence is named"

# --- A board without the dual-chip service --------------------------------------------
boot_board no-chip-select
said no-chip-select 'Pellrix: this board does not support the dual-chip service (0x82): nothing to compare, save or record.' ||
  fail "no-chip-select: the board is not named as unsupported: $(grep 'Pellrix:' "$work/no-chip-select/console.txt")"
copy_runs "$work/after-5"
[[ $(cd "$work/after-5/RUN010" && ls -A | tr '\n' ' ') == "PELLRIX.LOG RESULT.TXT " ]] ||
  fail "no-chip-select: RUN010 holds [$(cd "$work/after-5/RUN010" && ls -A | tr '\n' ' ')]"
[[ $(tr -d '\r' <"$work/after-5/RUN010/RESULT.TXT") == "UNSUPPORTED comparison=0x82" ]] ||
  fail "no-chip-select: RESULT.TXT is [$(cat "$work/after-5/RUN010/RESULT.TXT")]"
echo "field_kit: a board without the service is named so, and nothing is saved or recorded"

# --- Sticks that cannot keep the evidence ---------------------------------------------
# 64 MiB holds the kit and the board's images but not four chips: the kit
# says so before the test, shows the verdict and keeps the result alone.
kit=$work/small.img
bash "$make_usb" --prebuilt "$build" --vboard --size 64 --output "$kit" >/dev/null || fail "make-usb.sh --size 64 failed"
mv "$work/changed-driver" "$work/changed-driver-1"
boot_board changed-driver
said changed-driver 'Pellrix: the stick has no room for the evidence of a failure: the verdict will show, but a' ||
  fail "small stick: no line before the test saying the evidence will not be kept"
said changed-driver 'Pellrix: FAIL (0x8E data mismatch); the evidence was not kept (no room or no folder on the stick)' ||
  fail "small stick: no verdict: $(grep 'Pellrix:' "$work/changed-driver/console.txt")"
copy_runs "$work/after-small"
result=$(tr -d '\r' <"$work/after-small/RUN001/RESULT.TXT")
[[ $result == "FAIL comparison=0x8E save-main=none save-backup=none record=none" ]] || fail "small stick: RESULT.TXT is [$result]"
echo "field_kit: a stick too small for the evidence says so before the test and still shows the verdict"

# 8 KiB free: whatever fits, never a cut RESULT.TXT, and never a pass.
kit=$work/full.img
bash "$make_usb" --prebuilt "$build" --vboard --size 64 --output "$kit" >/dev/null || fail "make-usb.sh --size 64 failed"
mv "$work/changed-driver" "$work/changed-driver-2"
fill_to=8192 boot_board changed-driver
said changed-driver 'Pellrix: FAIL (0x8E data mismatch); the evidence was not kept (no room or no folder on the stick)' ||
  fail "full stick: no verdict: $(grep 'Pellrix:' "$work/changed-driver/console.txt")"
copy_runs "$work/after-full"
for folder in "$work"/after-full/RUN*; do
  if [[ -e $folder/RESULT.TXT ]]; then
    result=$(tr -d '\r' <"$folder/RESULT.TXT")
    [[ $result == "FAIL comparison=0x8E save-main=none save-backup=none record=none" ]] || fail "full stick: RESULT.TXT is [$result]"
  fi
  PELLRIX_BUILD_DIR=$build bash "$source_dir/tools/explain-run.sh" "$folder" >"$work/explain-full.txt" 2>&1
  (($? != 0)) || { cat "$work/explain-full.txt" >&2; fail "explain-run.sh passes a run on a full stick"; }
done
echo "field_kit: on a full stick the verdict shows and RESULT.TXT is whole or absent"

# A write-protected stick: nothing can be written, the verdict still shows.
kit=$work/small.img
mv "$work/changed-driver" "$work/changed-driver-3"
write_protected=1 boot_board sample
said sample 'Pellrix: PASS (0x80); nothing was kept on the stick' ||
  fail "write-protected stick: no verdict: $(grep 'Pellrix:' "$work/sample/console.txt")"
grep -q '^Pellrix: cannot create RUN002 on fs0: (write-protected or full)' "$work/sample/console.txt" ||
  fail "write-protected stick: no line saying that nothing will be kept"
echo "field_kit: a write-protected stick still shows the verdict"

# RUN999 taken: no folder, the verdict all the same.
mmd -i "$(esp "$kit")" ::/RUN999 || fail "cannot make RUN999 on the stick"
mv "$work/sample" "$work/sample-write-protected"
boot_board sample
said sample 'Pellrix: PASS (0x80); nothing was kept on the stick' && grep -q '^Pellrix: no run number left' "$work/sample/console.txt" ||
  fail "RUN999 taken: $(grep 'Pellrix:' "$work/sample/console.txt")"
echo "field_kit: with RUN999 taken the verdict still shows"

# A passing test keeps the texts, not the disk and chip images.
find "$work" -type f \( -name '*.img' -o -iname '*.bin' -o -iname '*.rom' \) -delete
