#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The field kit's round trip in OVMF. The shipped image is built twice
# (identical bytes, the kit as BOOTX64.EFI, nothing of the virtual board).
# The test image carries the test build of the kit, which loads the virtual
# board's driver from the stick before it runs; the firmware starts it by
# itself, on one stick in turn: a board that passes (RUN001: log and PASS), a
# changed driver on Backup (RUN002: both chips byte for byte, the record, FAIL
# 0x8E, and the explain step names the driver), a gap in the numbers, a board
# whose switch back to Main fails (the final screen says it runs from
# Backup), a board without the dual-chip service, a power cut during a save
# followed by two boots, a stick with room for the chips but not the record,
# one with 8 KiB free, a write-protected one and one with RUN999 taken. Every
# boot must end on the final screen with its verdict, and the kit's restart
# must end QEMU after a key. Then Secure Boot with OVMF's test keys: the kit
# signed with them runs and reports Secure Boot on; unsigned, or with one
# byte changed after signing, the firmware refuses it. Last, the shim stick
# under Microsoft's keys: the kit runs with the lab certificate in MokList,
# not without.
#
# usage: run_field_kit_test.sh SOURCE_DIR BUILD_DIR [WORK_DIR]
# With KIT_SCREENSHOT=FILE.png it only boots the changed-driver board from
# the test image, with a VGA card, and saves the kit's final screen as FILE.png
# (docs/kit-final-screen.png is made so); python3-pil converts the picture.
# Environment: OVMF_CODE, OVMF_VARS, QEMU, QEMU_TIMEOUT as for the other
# UEFI tests; OVMF_SECURE_CODE, OVMF_SECURE_VARS and OVMF_TEST_KEY (with its
# passphrase "snakeoil") for the Secure Boot part, OVMF_MS_CODE and
# OVMF_MS_VARS for the shim part.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=shell_boot.sh
source "$here/shell_boot.sh"
# shellcheck source=kit_boot.sh
source "$here/kit_boot.sh"
cases_tool=$here/vboard_cases.py

uefi_test_settings field_kit 300
export MTOOLS_SKIP_CHECK=1

[[ $# -ge 2 && $# -le 3 ]] || { echo "usage: $0 SOURCE_DIR BUILD_DIR [WORK_DIR]" >&2; exit 2; }
source_dir=$(cd "$1" && pwd) || fail "no such directory: $1"
build=$(cd "$2" && pwd) || fail "no such directory: $2"
for file in pellrix-sim diff/pellrix-diff pellrix.efi pellrix-record.efi pellrix-kit.efi pellrix-vboard.efi \
  pellrix-record-vboard.efi pellrix-kit-vboard.efi vboard.efi; do
  [[ -f $build/$file ]] || fail "not built: $build/$file"
done
for tool in sgdisk mcopy mkfs.fat sbsign openssl "$qemu"; do
  command -v "$tool" >/dev/null || fail "$tool not found (bash tools/setup.sh installs it)"
done
make_work_dir "${3:-}"
make_usb=$source_dir/tools/make-usb.sh

# The partition's FAT volume inside a disk image, for mtools.
esp() { echo "$1@@1M"; }

# --- The shipped image ----------------------------------------------------------------
bash "$make_usb" --prebuilt "$build" --output "$work/ship-1.img" >/dev/null || fail "make-usb.sh failed"
bash "$make_usb" --prebuilt "$build" --output "$work/ship-2.img" >/dev/null || fail "make-usb.sh failed the second time"
cmp "$work/ship-1.img" "$work/ship-2.img" >&2 || fail "two builds of the image differ"
sgdisk -i 1 "$work/ship-1.img" | grep -q 'EFI system partition' || fail "partition 1 is not an EFI system partition"
listing=$(mdir -/ -b -i "$(esp "$work/ship-1.img")" :: | LC_ALL=C sort | tr '\n' ' ')
want="::/EFI/ ::/EFI/BOOT/ ::/EFI/BOOT/BOOTX64.EFI ::/LICENSE.TXT ::/README.TXT ::/pellrix-record.efi ::/pellrix.efi "
[[ $listing == "$want" ]] || fail "the shipped image holds [$listing] instead of [$want]"
mkdir -p "$work/shipped"
mcopy -n -i "$(esp "$work/ship-1.img")" ::/EFI/BOOT/BOOTX64.EFI ::/pellrix.efi ::/pellrix-record.efi "$work/shipped/" ||
  fail "cannot copy out of the shipped image"
cmp -s "$work/shipped/BOOTX64.EFI" "$build/pellrix-kit.efi" || fail "the shipped BOOTX64.EFI is not pellrix-kit.efi"
cmp -s "$work/shipped/pellrix.efi" "$build/pellrix.efi" || fail "the shipped pellrix.efi is not the real build's"
cmp -s "$work/shipped/pellrix-record.efi" "$build/pellrix-record.efi" || fail "the shipped pellrix-record.efi is not the real build's"
echo "field_kit: the shipped image is reproducible and holds the kit alone"

# --- The test image -------------------------------------------------------------------
kit=$work/kit.img
bash "$make_usb" --prebuilt "$build" --vboard --size 192 --output "$kit" >/dev/null || fail "make-usb.sh --vboard failed"
timeout 60 "$build/pellrix-sim" --write-sample "$work/sample-source" -- >/dev/null || fail "pellrix-sim --write-sample failed"
part_bytes=$(stat -c %s "$work/sample-source/main.rom")

# Puts board NAME on the stick (VBOARD.BIN, MAIN.ROM, BACK.ROM beside
# vboard.efi) and boots it; the console is in $work/NAME/console.txt.
boot_board() {
  local name=$1 dir=$work/$1
  rm -rf "$dir"
  mkdir -p "$dir/vboard"
  python3 "$cases_tool" make-board "$name" "$work/sample-source" "$dir/board" || fail "$name: cannot make the board"
  timeout 60 "$build/pellrix-sim" --board "$dir/board/board.json" --write-vboard "$dir/vboard" -- ||
    fail "$name: pellrix-sim --write-vboard failed"
  mcopy -o -i "$(esp "$kit")" "$dir/vboard"/* ::/ || fail "$name: cannot put the board on the stick"
  if [[ -n ${fill_to:-} ]]; then fill_stick "$fill_to"; fi
  boot_kit "$dir" "$kit" || fail "$name: $boot_problem"
  grep -q '^BdsDxe: starting Boot0001 "UEFI QEMU \(HARDDISK\|QEMU USB HARDDRIVE\)' "$dir/console.txt" ||
    fail "$name: OVMF did not start the stick's BOOTX64.EFI"
  [[ -n $kit_verdict_tenths ]] && printf 'field_kit: %s: boot to verdict %d.%d s\n' "$name" \
    $((kit_verdict_tenths / 10)) $((kit_verdict_tenths % 10))
  # A figure, not a check: TCG runs slower than a board, and unevenly.
  [[ -n $kit_still_tenths ]] && printf 'field_kit: %s: console still at most %d.%d s during the test\n' "$name" \
    $((kit_still_tenths / 10)) $((kit_still_tenths % 10))
  return 0
}

# Leaves BYTES free on the stick with a filler file.
fill_stick() {
  local free
  mdel -i "$(esp "$kit")" ::/FILLER.BIN 2>/dev/null
  free=$(mdir -i "$(esp "$kit")" :: | sed -n 's/ *\([0-9 ]*\) bytes free/\1/p' | tr -d ' ')
  [[ -n $free ]] && ((free > $1)) || fail "cannot read the stick's free space"
  head -c $((free - $1)) /dev/zero >"$work/FILLER.BIN"
  mcopy -o -i "$(esp "$kit")" "$work/FILLER.BIN" ::/ || fail "cannot fill the stick"
  rm -f "$work/FILLER.BIN"
}

# Whether the last boot of board NAME showed LINE (a whole line) on screen.
said() { grep -qxF -- "$2" "$work/$1/console.txt"; }
# The verdict line and the screen around it, for a failure message.
screen_of() { grep -A12 '^Verdict: ' "$work/$1/console.txt" | head -n 14; }

# Copies the stick's run folders out into DIR.
copy_runs() {
  rm -rf "$1"
  mkdir -p "$1"
  mdir -/ -b -i "$(esp "$kit")" :: | sed -n 's|^::/\(RUN[0-9]*\)/$|\1|p' | sort >"$1.list"
  while read -r folder; do
    mcopy -s -n -i "$(esp "$kit")" "::/$folder" "$1/" || fail "cannot copy $folder off the stick"
  done <"$1.list"
}
runs_are() { [[ $(tr '\n' ' ' <"$1.list") == "$2" ]] || fail "$3: the stick holds [$(tr '\n' ' ' <"$1.list")] instead of [$2]"; }
holds() { [[ $(cd "$1" && ls -A | tr '\n' ' ') == "$2" ]] || fail "$3: $(basename "$1") holds [$(cd "$1" && ls -A | tr '\n' ' ')]"; }
first_line() { tr -d '\r' <"$1/RESULT.TXT" | head -n 1; }

# The comparison's part of a kit log (after its "== pellrix.efi" line, up to
# the next "== " line) with CRLF turned into LF, as pellrix-sim prints it.
compare_log() { perl -0777 -ne 'print $1 =~ s/\r\n/\n/gr if /^== pellrix\.efi\r?\n(.*?)(?=^== |\z)/sm' "$1"; }

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
  diff -u --label "pellrix-sim ($what)" --label "the kit's log" "$out" "$work/$what.log.txt" | head -n 40 >&2
  cmp -s "$out" "$work/$what.log.txt" || fail "$what: pellrix-sim's console differs from the logged one"
  logged=$(sed -n 's/.*comparison=\(0x[0-9A-Fa-f]*\).*/\1/p' "$run/RESULT.TXT")
  [[ -n $logged ]] && ((status == logged)) || fail "$what: pellrix-sim ended with $status, the kit recorded ${logged:-nothing}"
}

if [[ -n ${KIT_SCREENSHOT:-} ]]; then
  screendump=$work/final-screen.ppm boot_board changed-driver
  said changed-driver "Verdict: FAIL - the chips' contents differ" || fail "changed-driver: $(screen_of changed-driver)"
  "${PYTHON:-/usr/bin/python3}" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], optimize=True)' \
    "$work/final-screen.ppm" "$KIT_SCREENSHOT" || fail "cannot turn the screen dump into $KIT_SCREENSHOT"
  echo "field_kit: the final screen is in $KIT_SCREENSHOT"
  exit 0
fi

# --- Board 1: passes ------------------------------------------------------------------
boot_board sample
said sample 'Verdict: PASS - the two chips match' || fail "sample: no PASS verdict: $(screen_of sample)"
said sample 'On a workstation run: pellrix-explain-run RUN001' ||
  fail "sample: the final screen does not name RUN001: $(screen_of sample)"
grep -q '^Secure Boot: off\|Secure Boot: off$' "$work/sample/console.txt" || fail "sample: Secure Boot not reported off"
copy_runs "$work/after-1"
runs_are "$work/after-1" "RUN001 " sample
run1=$work/after-1/RUN001
holds "$run1" "PELLRIX.LOG RESULT.TXT " sample
[[ $(first_line "$run1") == "PASS comparison=0x80" ]] || fail "sample: RESULT.TXT is [$(cat "$run1/RESULT.TXT")]"
grep -q "^part-bytes=$part_bytes" "$run1/RESULT.TXT" && grep -q '^date=20[0-9][0-9]-' "$run1/RESULT.TXT" &&
  grep -q '^model=PELLRIX PX-100' "$run1/RESULT.TXT" || fail "sample: RESULT.TXT lacks the part size, the date or the model"
same_as_logged sample "$run1" "$build/pellrix-sim" --board "$work/sample/board/board.json" --
echo "field_kit: a passing board left RUN001 with its log and PASS, nothing else"

# --- Board 2: a changed driver on Backup ----------------------------------------------
boot_board changed-driver
said changed-driver "Verdict: FAIL - the chips' contents differ" || fail "changed-driver: $(screen_of changed-driver)"
said changed-driver 'Kept in RUN002: the log, RESULT.TXT, the Main chip, the Backup chip' ||
  fail "changed-driver: the final screen does not say what was kept: $(screen_of changed-driver)"
copy_runs "$work/after-2"
runs_are "$work/after-2" "RUN001 RUN002 " changed-driver
diff -r "$run1" "$work/after-2/RUN001" >&2 || fail "changed-driver: the second run changed RUN001"
run2=$work/after-2/RUN002
board=$work/changed-driver/board
holds "$run2" "BACKUP.BIN MAIN.BIN PELLRIX.LOG PELLRIX.REC RESULT.TXT " changed-driver
cmp "$run2/MAIN.BIN" "$board/main.rom" >&2 || fail "changed-driver: MAIN.BIN is not the board's Main chip"
cmp "$run2/BACKUP.BIN" "$board/backup.rom" >&2 || fail "changed-driver: BACKUP.BIN is not the board's Backup chip"
[[ $(first_line "$run2") == "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80" ]] ||
  fail "changed-driver: RESULT.TXT is [$(cat "$run2/RESULT.TXT")]"
problems=$(python3 "$cases_tool" check-record changed-driver "$board/board.json" "$run2/PELLRIX.REC" "=== record status 0x80 ===" -)
[[ -z $problems ]] || fail "changed-driver: the record: ${problems//$'\n'/; }"
explained=$work/explain.txt
PELLRIX_SIM=$build/pellrix-sim "$build/explain/pellrix-explain-run" "$run2" >"$explained" 2>&1 ||
  { cat "$explained" >&2; fail "pellrix-explain-run failed on RUN002"; }
changed=$(python3 "$cases_tool" changed-file)
grep -qiF "$changed" "$explained" || { cat "$explained" >&2; fail "pellrix-explain-run does not name the changed driver $changed"; }
echo "field_kit: a failing board left RUN002 with both chips, the record and the statuses; the explanation names $changed"

# --- The numbering: a later folder present, earlier ones free --------------------------
mmd -i "$(esp "$kit")" ::/RUN007 || fail "cannot make RUN007 on the stick"
boot_board sample
said sample 'On a workstation run: pellrix-explain-run RUN008' ||
  fail "after RUN007: the final screen does not name RUN008: $(screen_of sample)"
copy_runs "$work/after-3"
runs_are "$work/after-3" "RUN001 RUN002 RUN007 RUN008 " "after RUN007"
echo "field_kit: the next run took RUN008 after RUN007"

# --- A board whose switch back to Main fails ------------------------------------------
boot_board ignore-main
said ignore-main 'Verdict: FAIL - the switch between chips failed' || fail "ignore-main: $(screen_of ignore-main)"
said ignore-main 'The board runs from: Backup chip - NOT the start-up chip!' ||
  fail "ignore-main: the final screen does not say the board runs from Backup: $(screen_of ignore-main)"
copy_runs "$work/after-4"
run9=$work/after-4/RUN009
[[ $(first_line "$run9") == FAIL\ comparison=0x84\ * ]] || fail "ignore-main: RESULT.TXT is [$(cat "$run9/RESULT.TXT")]"
grep -qx $'runs-from=Backup\r\\?' "$run9/RESULT.TXT" || fail "ignore-main: RESULT.TXT does not say the board runs from Backup"
# The Backup chip was saved before the switch failed, the record only in
# part: the screen and RESULT.TXT say so, and that Main was not kept.
said ignore-main 'Kept in RUN009: the log, RESULT.TXT, the Backup chip, part of the board record' &&
  said ignore-main 'NOT kept whole: the Main chip, the board record' ||
  fail "ignore-main: the final screen does not say what the stick holds: $(screen_of ignore-main)"
grep -qx $'kept=PELLRIX.LOG,BACKUP.BIN\r\\?' "$run9/RESULT.TXT" && grep -qx $'partial=PELLRIX.REC\r\\?' "$run9/RESULT.TXT" &&
  [[ -f $run9/BACKUP.BIN && ! -e $run9/MAIN.BIN && -d $run9/PELLRIX.REC ]] ||
  fail "ignore-main: RESULT.TXT's kept= and partial= are not the stick's: $(cat "$run9/RESULT.TXT")"
# The record missing after a failed switch is incomplete evidence, and not
# for want of room.
"$build/explain/pellrix-explain-run" "$run9" >"$work/explain-9.txt" 2>&1
(($? == 1)) || { cat "$work/explain-9.txt" >&2; fail "pellrix-explain-run does not call RUN009's evidence incomplete"; }
grep -q 'the switch between chips failed' "$work/explain-9.txt" && ! grep -q 'no room' "$work/explain-9.txt" ||
  { cat "$work/explain-9.txt" >&2; fail "pellrix-explain-run does not blame RUN009's missing record on the failed switch"; }
echo "field_kit: a board left on Backup is a FAIL with 0x84, and the final screen says so"

# --- A board without the dual-chip service --------------------------------------------
boot_board no-chip-select
said no-chip-select 'Verdict: UNSUPPORTED - no dual-chip service on this board' || fail "no-chip-select: $(screen_of no-chip-select)"
copy_runs "$work/after-5"
holds "$work/after-5/RUN010" "PELLRIX.LOG RESULT.TXT " no-chip-select
[[ $(first_line "$work/after-5/RUN010") == "UNSUPPORTED comparison=0x82" ]] ||
  fail "no-chip-select: RESULT.TXT is [$(cat "$work/after-5/RUN010/RESULT.TXT")]"
echo "field_kit: a board without the service is named so, and nothing is saved or recorded"

# --- A power cut during a save, then two boots ----------------------------------------
cut_at='^== pellrix\.efi /s 2' boot_board changed-driver
boot_board sample
boot_board sample
copy_runs "$work/after-6"
runs_are "$work/after-6" "RUN001 RUN002 RUN007 RUN008 RUN009 RUN010 RUN011 RUN012 RUN013 " "after the power cut"
[[ ! -e $work/after-6/RUN011/RESULT.TXT ]] || fail "power cut: RUN011 has a RESULT.TXT"
[[ -e $work/after-6/RUN011/MAIN.BIN ]] || fail "power cut: RUN011 lost the Main chip saved before the cut"
[[ $(first_line "$work/after-6/RUN013") == "PASS comparison=0x80" ]] || fail "power cut: the second boot after it did not pass"
echo "field_kit: after a power cut during a save the next two boots took RUN012 and RUN013, RUN011 kept"

# --- Room for the chips but not the record --------------------------------------------
# The log's bound (2.5 MiB for 16 MiB chips) and a little more beside the two chips.
fill_to=$((2 * part_bytes + 4 * 1024 * 1024)) boot_board changed-driver
said changed-driver 'The stick had room for the log and the chips, not the board record.' &&
  said changed-driver 'Kept in RUN014: the log, RESULT.TXT, the Main chip, the Backup chip' &&
  said changed-driver 'NOT kept whole: the board record' || fail "chips, no record: $(screen_of changed-driver)"
copy_runs "$work/after-7"
[[ $(first_line "$work/after-7/RUN014") == "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=none" ]] ||
  fail "chips, no record: RESULT.TXT is [$(cat "$work/after-7/RUN014/RESULT.TXT")]"
cmp -s "$work/after-7/RUN014/BACKUP.BIN" "$work/changed-driver/board/backup.rom" || fail "chips, no record: BACKUP.BIN is not whole"
echo "field_kit: with room for the chips alone the kit kept both chips and said the record would not fit"

# --- 8 KiB free -----------------------------------------------------------------------
fill_to=8192 boot_board changed-driver
said changed-driver "Verdict: FAIL - the chips' contents differ" || fail "8 KiB free: $(screen_of changed-driver)"
copy_runs "$work/after-8"
for folder in "$work"/after-8/RUN015; do
  [[ ! -e $folder/RESULT.TXT ]] || [[ $(first_line "$folder") == "FAIL comparison=0x8E save-main=none save-backup=none record=none" ]] ||
    fail "8 KiB free: RESULT.TXT is [$(cat "$folder/RESULT.TXT")]"
done
said changed-driver 'The stick was too full for the evidence: free it and run again.' ||
  said changed-driver 'The stick could not be written (write-protected, full or damaged).' ||
  fail "8 KiB free: the final screen does not say the stick was full: $(screen_of changed-driver)"
# A log the stick stopped taking is said so on the screen and in RESULT.TXT.
if [[ -e $work/after-8/RUN015/RESULT.TXT ]] && grep -q '^log=incomplete' "$work/after-8/RUN015/RESULT.TXT"; then
  said changed-driver 'The log stops early: the stick refused a write (full or failing).' ||
    fail "8 KiB free: RESULT.TXT says log=incomplete, the screen does not: $(screen_of changed-driver)"
fi
mdel -i "$(esp "$kit")" ::/FILLER.BIN
echo "field_kit: with 8 KiB free the verdict shows and RESULT.TXT is whole or absent"

# --- A write-protected stick ----------------------------------------------------------
write_protected=1 boot_board sample
said sample 'Verdict: PASS - the two chips match' || fail "write-protected: $(screen_of sample)"
said sample 'The stick could not be written (write-protected, full or damaged).' ||
  fail "write-protected: the final screen does not say nothing was kept: $(screen_of sample)"
echo "field_kit: a write-protected stick still shows the verdict"

# --- RUN999 taken ---------------------------------------------------------------------
mmd -i "$(esp "$kit")" ::/RUN999 || fail "cannot make RUN999 on the stick"
boot_board sample
said sample 'No run number left (RUN999 is taken): copy the RUN folders off, delete them.' ||
  fail "RUN999 taken: $(screen_of sample)"
said sample 'Verdict: PASS - the two chips match' || fail "RUN999 taken: no verdict: $(screen_of sample)"
echo "field_kit: with RUN999 taken the verdict still shows"

# --- Secure Boot with OVMF's test keys ------------------------------------------------
secure_code=${OVMF_SECURE_CODE:-/usr/share/OVMF/OVMF_CODE_4M.snakeoil.fd}
secure_vars=${OVMF_SECURE_VARS:-/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd}
test_key=${OVMF_TEST_KEY:-/usr/share/ovmf/PkKek-1-snakeoil.key}
openssl pkey -in "$test_key" -passin pass:snakeoil -out "$work/lab.key" 2>/dev/null || fail "cannot read $test_key"
openssl x509 -in "${test_key%.key}.pem" -out "$work/lab.crt" || fail "cannot read ${test_key%.key}.pem"
ovmf_code=$secure_code
kit=$work/signed.img
bash "$make_usb" --prebuilt "$build" --vboard --size 64 --sign-key "$work/lab.key" --sign-cert "$work/lab.crt" \
  --output "$kit" >/dev/null || fail "make-usb.sh --sign-key failed"
mcopy -n -i "$(esp "$kit")" ::/EFI/BOOT/BOOTX64.EFI "$work/signed-kit.efi" || fail "cannot copy the signed kit out"
sbverify --cert "$work/lab.crt" "$work/signed-kit.efi" >/dev/null 2>&1 || fail "the kit on the stick is not signed with the lab key"
boot_board_vars() { local saved=$ovmf_vars; ovmf_vars=$secure_vars; boot_board "$@"; ovmf_vars=$saved; }
boot_board_vars sample
said sample 'Verdict: PASS - the two chips match' || fail "Secure Boot: $(screen_of sample)"
grep -q 'Secure Boot: on$' "$work/sample/console.txt" || fail "Secure Boot: the kit does not report Secure Boot on"
echo "field_kit: the signed kit runs under Secure Boot and reports it on"

# Refused: the firmware says so and the kit never prints a line.
refused() {
  local name=$1 dir=$work/$1
  ovmf_vars=$secure_vars cut_at='failed to load Boot0001|Security Violation|Access Denied' boot_kit "$dir" "$kit" "$secure_vars" ||
    fail "$name: $boot_problem"
  ! grep -q 'Pellrix field kit' "$dir/console.txt" || fail "$name: the firmware started the kit"
  grep -qE 'Security Violation|Access Denied' "$dir/console.txt" || fail "$name: the firmware did not refuse the kit"
}
cp "$build/pellrix-kit-vboard.efi" "$work/BOOTX64.EFI"
mcopy -o -i "$(esp "$kit")" "$work/BOOTX64.EFI" ::/EFI/BOOT/BOOTX64.EFI || fail "cannot put the unsigned kit on the stick"
refused unsigned
# One byte of the code changed after signing.
cp "$work/signed-kit.efi" "$work/BOOTX64.EFI"
printf '\x90' | dd of="$work/BOOTX64.EFI" bs=1 seek=$((0x500)) conv=notrunc status=none
cmp -s "$work/BOOTX64.EFI" "$work/signed-kit.efi" && fail "the tampered kit is the signed one"
mcopy -o -i "$(esp "$kit")" "$work/BOOTX64.EFI" ::/EFI/BOOT/BOOTX64.EFI || fail "cannot put the tampered kit on the stick"
refused tampered
echo "field_kit: the unsigned kit and one changed after signing are refused under Secure Boot"

# --- Through shim, for boards that trust only their vendor's and Microsoft's keys -----
# OVMF with Microsoft's keys: Debian's shim starts the lab-signed kit once
# the lab certificate is in the machine owner's key list (MokList, written
# into the test's copy of the variable store as MokManager would leave it);
# without it shim refuses the kit and the kit never runs. The shipped kit
# goes in: shim's loader unloads a driver it started once the driver's entry
# returns, so the virtual board cannot stay behind it, and OVMF offers no
# dual-chip service of its own; the kit must end on UNSUPPORTED.
ms_code=${OVMF_MS_CODE:-/usr/share/OVMF/OVMF_CODE_4M.ms.fd}
ms_vars=${OVMF_MS_VARS:-/usr/share/OVMF/OVMF_VARS_4M.ms.fd}
ovmf_code=$ms_code
kit=$work/shim.img
bash "$make_usb" --prebuilt "$build" --size 64 --sign-key "$work/lab.key" --sign-cert "$work/lab.crt" --shim \
  --output "$kit" >/dev/null || fail "make-usb.sh --shim failed"
mcopy -n -i "$(esp "$kit")" ::/LAB.CER "$work/LAB.CER" || fail "the shim stick carries no LAB.CER"
python3 "$here/mok_vars.py" "$ms_vars" "$work/LAB.CER" "$work/mok-vars.fd" || fail "cannot add MokList to $ms_vars"
boot_kit "$work/mok" "$kit" "$work/mok-vars.fd" || fail "shim with MokList: $boot_problem"
grep -aqx 'Verdict: UNSUPPORTED - no dual-chip service on this board' "$work/mok/console.txt" ||
  fail "shim with MokList: the kit did not end on its verdict"
grep -aq 'Secure Boot: on$' "$work/mok/console.txt" || fail "shim with MokList: the kit does not report Secure Boot on"
cut_at='Verification failed' boot_kit "$work/no-mok" "$kit" "$ms_vars" || fail "shim without MokList: $boot_problem"
! grep -aq 'Pellrix field kit' "$work/no-mok/console.txt" || fail "shim without MokList: the kit ran"
grep -aq 'Verification failed: (0x1A) Security Violation' "$work/no-mok/console.txt" ||
  fail "shim without MokList: shim did not refuse the kit"
echo "field_kit: through shim the kit runs once the lab certificate is in MokList, and not before"

# A passing test keeps the texts, not the disk and chip images.
find "$work" -type f \( -name '*.img' -o -iname '*.bin' -o -iname '*.rom' -o -name '*.key' -o -name '*.fd' \) -delete
