#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Differential test: every command on a set of boards, once in OVMF's real
# UEFI Shell under QEMU (pellrix-vboard.efi on the virtual board that
# vboard.efi brings up) and once in pellrix-sim on the same board. For each
# command both must show the same console text, end with the same status
# (%lasterror% against the simulator's exit status), leave the same chip
# active, and write the same files byte for byte.
#
# usage: run_differential_test.sh BUILD_DIR [WORK_DIR]
#   BUILD_DIR holds pellrix-sim, pellrix-vboard.efi, vboard.efi and vbactive.efi.
#   WORK_DIR keeps each board's files, FAT image, serial log and both sides'
#   console texts for inspection; without it a temporary directory is used.
#
# Environment (all optional):
#   OVMF_CODE, OVMF_VARS, QEMU   as for run_shell_test.sh
#   QEMU_TIMEOUT     seconds before one boot is killed (default 300)
#   QEMU_LOCK        a lock file; each boot then runs under flock on it
#   VBOARD_BOARDS    boards to run, space separated (default: all); a name
#                    random-SEED-INDEX is a random board with its own
#                    command list (random_boards.py)
#   VBOARD_COMMANDS  replaces each board's command list: command lines
#                    separated by ';', '-' for none (no expected statuses)
#   VBOARD_SHOW      1: print the real shell's console text of every command
#   VBOARD_RECORD    1: also record each board with pellrix-record-vboard.efi
#                    before its commands, copy PELLRIX.REC out, and require
#                    pellrix-sim on the recorded board to match the real shell
#                    exactly as pellrix-sim on the original board must
#
# One boot per board: the driver reads its board when it is loaded, and the
# board keeps its active chip from one command to the next within the boot.
# The simulator is fed that evolving state: each command runs on the board
# with the active chip the previous command left.
#
# Console texts are compared after removing the serial terminal's escape
# sequences and turning its CRLF line ends into LF; a bare CR (the progress
# lines) is kept, and diffs show it as <CR> with a line break after it. The
# simulator's text is read as the terminal shows it: a control character the
# terminal cannot show (a firmware's text may hold one) becomes '?'.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=shell_boot.sh
source "$here/shell_boot.sh"
cases_tool=$here/vboard_cases.py

ovmf_code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
ovmf_vars=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
qemu=${QEMU:-qemu-system-x86_64}
qemu_timeout=${QEMU_TIMEOUT:-300}
show=${VBOARD_SHOW:-0}
record=${VBOARD_RECORD:-0}

# Each board's commands: "arguments|expected status|extra check", separated
# by ';'. '-' stands for no arguments; an empty status is not fixed. Extra
# checks hold the real shell's result to what the board implies on its own:
#   file NAME IMAGE   the written file NAME equals the board's chip image IMAGE
#   has TEXT / lacks TEXT   the console text does or does not contain TEXT
boards=(sample model-name model-name-neither model-name-control data-mismatch backup-active bad-checksum stuck-switch ignore-main ignore-main-save unsupported
  no-chip-select smi-port no-acpi no-facp fail-alloc)
declare -A plan=(
  [sample]='-|128|has Pellgard comparison test PASS !!!;/i|128;/p|145;/c 2|146;/s 1|128|file MAIN.BIN main.rom;/s 2|128|file BACKUP.BIN backup.rom;/c 1|145;/delay 5|128'
  [model-name]='-|139|has BIOS model name check.......... ERROR !!!;/i|139;/s 2|128|lacks BIOS checksum ................... ok'
  [model-name-neither]='-|139|has BIOS model name check.......... ERROR !!!;/p|;/s 2|128|file BACKUP.BIN backup.rom'
  [model-name-control]='/i|139|has BIOS model name check.......... ERROR !!!'
  [data-mismatch]='-|142;/i|128;/delay 5|142'
  [backup-active]='/p|146;-|128;/s 1|128|file MAIN.BIN main.rom;/c 1|145;/i|128'
  [bad-checksum]='/s 1|128|lacks BIOS checksum ................... ok;/s 2|128|has BIOS checksum ................... ok;-|142'
  [stuck-switch]='/c 2|132;-|132;/c 1|145'
  [ignore-main]='-|132|has !! Unable to switch to Main BIOS !!;/p|146'
  [ignore-main-save]='/s 2|132|file BACKUP.BIN backup.rom;/s 2|128'
  [unsupported]='-|130;/p|130;/c 2|130'
  [no-chip-select]='-|130;/s 1|130'
  [smi-port]='-|128|has Pellgard comparison test PASS !!!;/s 2|128|file BACKUP.BIN backup.rom'
  [no-acpi]='-|134|has !!! SPI Flash initialization fail !!!;/p|134'
  [no-facp]='-|134|has !!! SPI Flash initialization fail !!!'
  [fail-alloc]='-|130|has Pellgard comparison test FAIL !!!;/s 2|128'
)

fail() {
  echo "differential: FAILED: $*" >&2
  exit 1
}

[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 BUILD_DIR [WORK_DIR]" >&2; exit 2; }
build=$(cd "$1" && pwd) || fail "no such directory: $1"
sim=$build/pellrix-sim
images=("$build/pellrix-vboard.efi" "$build/vboard.efi" "$build/vbactive.efi")
(( record )) && images+=("$build/pellrix-record-vboard.efi")
for file in "$sim" "${images[@]}"; do
  [[ -f $file ]] || fail "not built: $file"
done
[[ -f $ovmf_code ]] || fail "OVMF firmware not found: $ovmf_code (Debian package ovmf, or set OVMF_CODE)"
[[ -f $ovmf_vars ]] || fail "OVMF variable store not found: $ovmf_vars (Debian package ovmf, or set OVMF_VARS)"
command -v "$qemu" >/dev/null || fail "$qemu not found (Debian package qemu-system-x86, or set QEMU)"
for tool in timeout mkfs.fat mcopy python3 perl; do
  command -v "$tool" >/dev/null || fail "$tool not found (packages coreutils, dosfstools, mtools, python3, perl)"
done

if [[ -n ${VBOARD_BOARDS:-} ]]; then
  read -r -a boards <<<"$VBOARD_BOARDS"
  for board in "${boards[@]}"; do
    [[ -n ${plan[$board]+x} || $board =~ ^random-[0-9]+-[0-9]+$ ]] || fail "unknown board: $board"
  done
fi
if [[ -n ${VBOARD_COMMANDS+x} ]]; then
  commands=$(sed 's/\([^;]*\)/\1|/g' <<<"${VBOARD_COMMANDS:--}")
  for board in "${boards[@]}"; do plan[$board]=$commands; done
fi

if [[ $# -eq 2 ]]; then
  work=$2
  mkdir -p "$work" || fail "cannot create $work"
  for board in "${boards[@]}"; do rm -rf "${work:?}/$board"; done
else
  work=$(mktemp -d) || fail "mktemp failed"
  trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)

# Shows a console text with each CR visible and followed by a line break.
visible() { perl -pe 's/\r/<CR>\n/g' "$1"; }

timeout 60 "$sim" --write-sample "$work/sample-source" -- >/dev/null || fail "pellrix-sim --write-sample failed"

# --- Every board --------------------------------------------------------------------
failed=()
total=0
start=$SECONDS
for board in "${boards[@]}"; do
  dir=$work/$board
  failed_before=${#failed[@]}
  mkdir -p "$dir/fs" "$dir/shell" "$dir/sim"
  python3 "$cases_tool" make-board "$board" "$work/sample-source" "$dir/board" || fail "$board: cannot make the board"
  # A random board brings its own command list.
  [[ -n ${plan[$board]+x} ]] || plan[$board]=$(<"$dir/board/plan.txt")
  # A board whose allocations fail fails the recorder as it fails the
  # program, in ways the record's check cannot foresee: it is not recorded.
  record_board=$record
  grep -q '"fail_alloc"' "$dir/board/board.json" && record_board=0
  timeout 60 "$sim" --board "$dir/board/board.json" --write-vboard "$dir/fs" -- ||
    fail "$board: pellrix-sim --write-vboard failed"
  cp "${images[@]}" "$dir/fs/"
  # The sides that must match the real shell: pellrix-sim on the board, and on
  # the board as the real shell recorded it.
  sides=(sim)
  (( record_board )) && sides+=(replay)
  mkdir -p "$dir/replay"

  IFS=';' read -r -a entries <<<"${plan[$board]}"
  count=${#entries[@]}
  {
    echo "@echo -off"
    echo "fs0:"
    echo "cd \\"
    echo "load vboard.efi"
    echo "echo \"=== load %lasterror% ===\""
    if (( record_board )); then
      echo "mkdir rec"
      echo "cd rec"
      echo "fs0:\\pellrix-record-vboard.efi"
      echo "echo \"=== record status %lasterror% ===\""
      echo "fs0:\\vbactive.efi"
      echo "echo \"=== record active %lasterror% ===\""
      echo "cd \\"
    fi
    for ((k = 1; k <= count; ++k)); do
      IFS='|' read -r arguments _ <<<"${entries[k - 1]}"
      [[ $arguments == - ]] && arguments=""
      # A save's directory already holds a larger, stale file of the same name
      # (placed below), which the save must replace whole.
      echo "if not exist c$k then"
      echo "  mkdir c$k"
      echo "endif"
      echo "cd c$k"
      echo "echo \"=== case $k ===\""
      echo "fs0:\\pellrix-vboard.efi${arguments:+ $arguments}"
      echo "echo \"=== status %lasterror% ===\""
      echo "fs0:\\vbactive.efi"
      echo "echo \"=== active $k %lasterror% ===\""
      echo "cd \\"
    done
    echo "echo \"=== all cases run ===\""
    echo "reset -s"
  } | sed 's/$/\r/' >"$dir/fs/startup.nsh"

  # Room for the board's images, one more image per save and some slack.
  saves=$(grep -io '/s [12]' <<<"${plan[$board]}" | wc -l)
  image_bytes=$(( $(stat -c %s "$dir/fs/MAIN.ROM") + $(stat -c %s "$dir/fs/BACK.ROM") ))
  largest=$(stat -c %s "$dir/fs/MAIN.ROM" "$dir/fs/BACK.ROM" | sort -n | tail -n 1)
  fat_kib=$(( (image_bytes + 2 * (saves + record_board) * largest) / 1024 + 65536 ))
  for ((k = 1; k <= count; ++k)); do
    IFS='|' read -r arguments _ <<<"${entries[k - 1]}"
    case $arguments in
      "/s 1" | "/S 1") stale=MAIN.BIN ;;
      "/s 2" | "/S 2") stale=BACKUP.BIN ;;
      *) continue ;;
    esac
    mkdir -p "$dir/fs/c$k" "$dir/sim/c$k" "$dir/replay/c$k"
    head -c $((largest + 4096)) /dev/zero | tr '\0' 'x' >"$dir/fs/c$k/$stale"
    cp "$dir/fs/c$k/$stale" "$dir/sim/c$k/$stale"
    cp "$dir/fs/c$k/$stale" "$dir/replay/c$k/$stale"
  done
  rm -f "$dir/fat.img"
  mkfs.fat -F 32 -n VBOARD -C "$dir/fat.img" "$fat_kib" >/dev/null || fail "$board: mkfs.fat failed"
  mcopy -s -i "$dir/fat.img" "$dir"/fs/* ::/ || fail "$board: mcopy into the FAT image failed"
  rm -rf "$dir"/fs/c[0-9]*
  rm -f "$dir/fs/MAIN.ROM" "$dir/fs/BACK.ROM"  # the FAT image and board/ hold them

  boot_start=$SECONDS
  if ! boot_uefi_shell "$dir" "$dir/fat.img" 512M; then
    echo "differential: $board: $boot_problem" >&2
    failed+=("$board (boot)")
    continue
  fi
  boot_time=$((SECONDS - boot_start))
  python3 "$cases_tool" split "$dir/serial.log" "$dir/shell" || fail "$board: cannot split the console"
  console=$(sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$dir/serial.log" | tr -d '\r')
  if ! grep -qx '=== load 0x0 ===' <<<"$console"; then
    grep -B5 '=== load' <<<"$console" >&2
    failed+=("$board (vboard.efi did not load)")
    continue
  fi
  for ((k = 1; k <= count; ++k)); do
    mcopy -s -n -i "$dir/fat.img" "::/c$k" "$dir/shell/" 2>/dev/null || mkdir -p "$dir/shell/c$k"
  done
  if (( record_board )); then
    rm -rf "$dir/rec"
    if ! mcopy -s -n -i "$dir/fat.img" "::/rec/PELLRIX.REC" "$dir/rec" 2>/dev/null; then
      grep -A12 '^Pellrix board recorder' <<<"$console" >&2
      failed+=("$board (no record written)")
      continue
    fi
    # The record leaves the board as it found it and describes it truly.
    record_problem=$(python3 "$cases_tool" check-record "$board" "$dir/board/board.json" "$dir/rec" \
      "$(grep -x '=== record status 0x[0-9A-Fa-f]* ===' <<<"$console")" \
      "$(grep -x '=== record active 0x[0-9A-Fa-f]* ===' <<<"$console")")
    if [[ -n $record_problem ]]; then
      echo "[$board record] $record_problem" >&2
      failed+=("$board (record)")
    fi
  fi

  # Each side, command after command, from the board's own start: each
  # command runs on the board with the active chip the previous one left.
  declare -A side_base=([sim]=$dir/board/board.json [replay]=$dir/rec/board.json)
  declare -A side_board=([sim]=$dir/board/board.json [replay]=$dir/rec/board.json)
  # A board that cannot return to its start-up chip is left on the other one
  # by the recorder (which says so): the commands then start there, and the
  # plan's statuses and checks, which assume the board's own start, do not
  # apply.
  planned=1
  if (( record_board )); then
    left=$(grep -x '=== record active 0x[0-9A-Fa-f]* ===' <<<"$console" | sed 's/.* 0x\([0-9A-Fa-f]*\) ===/\1/')
    startup=$(python3 "$cases_tool" startup "$dir/board/board.json")
    if [[ -n $left ]] && (( 16#$left != startup )); then
      planned=0
      for side in sim replay; do
        recorded_start=$(dirname "${side_base[$side]}")/start.json
        python3 "$cases_tool" with-active "${side_base[$side]}" "$((16#$left))" "$recorded_start"
        side_base[$side]=$recorded_start
        side_board[$side]=$recorded_start
      done
    fi
  fi
  declare -A side_label=([sim]="pellrix-sim" [replay]="pellrix-sim on the recorded board")
  for ((k = 1; k <= count; ++k)); do
    IFS='|' read -r arguments want check <<<"${entries[k - 1]}"
    (( planned )) || { want=""; check=""; }
    [[ $arguments == - ]] && arguments=""
    shown="pellrix${arguments:+ $arguments}"
    ((++total))
    name="$board #$k '$shown'"
    read -r -a words <<<"$arguments"
    shell_text=$dir/shell/case-$k.txt
    if [[ ! -f $shell_text ]]; then
      echo "[$name] the real shell's console has no complete case $k" >&2
      failed+=("$name")
      continue
    fi
    (( show )) && { echo "=== $board: $shown ==="; cat "$shell_text"; }
    shell_status=$(<"$dir/shell/case-$k.status")
    shell_active=$(grep -x "=== active $k 0x[0-9A-Fa-f]* ===" <<<"$console" | sed 's/.* \(0x[0-9A-Fa-f]*\) ===/\1/')
    shell_files=$(cd "$dir/shell/c$k" && ls -A)
    ok=1
    for side in "${sides[@]}"; do
      out=$dir/$side
      label=${side_label[$side]}
      mkdir -p "$out/c$k"
      timeout 120 "$sim" --board "${side_board[$side]}" --dir "$out/c$k" --report "$out/case-$k.report.json" \
        -- "${words[@]}" >"$out/case-$k.txt" 2>"$out/case-$k.err"
      sim_status=$?
      python3 "$cases_tool" as-terminal "$out/case-$k.txt"
      if [[ ! -s $out/case-$k.report.json ]] || (( sim_status == 2 || sim_status == 124 )); then
        echo "[$name] $label failed (status $sim_status): $(cat "$out/case-$k.err")" >&2
        failed+=("$name")
        break 2
      fi
      sim_active=$(python3 "$cases_tool" active "$out/case-$k.report.json")
      hazards=$(python3 "$cases_tool" hazards "$out/case-$k.report.json")
      if [[ -n $hazards ]]; then
        echo "[$name] $label saw accesses a real board would not survive: ${hazards//$'\n'/; }" >&2
        ok=0
      fi
      next=$(dirname "${side_base[$side]}")/after-$k.json
      python3 "$cases_tool" with-active "${side_base[$side]}" "$sim_active" "$next"
      side_board[$side]=$next

      if ! cmp -s "$out/case-$k.txt" "$shell_text"; then
        echo "[$name] console text differs (- $label, + real shell):" >&2
        diff -u --label "$label: $shown" --label "UEFI Shell: $shown" \
          <(visible "$out/case-$k.txt") <(visible "$shell_text") | head -n 60 >&2
        ok=0
      fi
      if [[ $shell_status != "$sim_status" ]]; then
        echo "[$name] status differs: $label $sim_status, %lasterror% $shell_status" >&2
        ok=0
      fi
      if [[ -n $want && $sim_status != "$want" ]]; then
        echo "[$name] $label's status is $sim_status, the board implies $want" >&2
        ok=0
      fi
      if [[ -z $shell_active ]] || (( 16#${shell_active#0x} != sim_active )); then
        echo "[$name] active chip afterwards differs: $label $sim_active, vboard.efi ${shell_active:-(none)}" >&2
        ok=0
      fi
      sim_files=$(cd "$out/c$k" && ls -A)
      if [[ $sim_files != "$shell_files" ]]; then
        echo "[$name] files written differ: $label [${sim_files//$'\n'/ }], real shell [${shell_files//$'\n'/ }]" >&2
        ok=0
      else
        for file in $sim_files; do
          if ! cmp "$out/c$k/$file" "$dir/shell/c$k/$file" >&2; then
            echo "[$name] $file differs between $label and the real shell" >&2
            ok=0
          fi
        done
      fi
    done
    read -r kind what <<<"$check"
    case $kind in
      file)
        read -r written image <<<"$what"
        if ! cmp -s "$dir/shell/c$k/$written" "$dir/board/$image"; then
          echo "[$name] the real shell's $written is not the board's $image" >&2
          ok=0
        fi ;;
      has)
        if ! tr '\r' '\n' <"$shell_text" | grep -qF -- "$what"; then
          echo "[$name] the console lacks '$what'" >&2
          ok=0
        fi ;;
      lacks)
        if tr '\r' '\n' <"$shell_text" | grep -qF -- "$what"; then
          echo "[$name] the console shows '$what'" >&2
          ok=0
        fi ;;
    esac
    (( ok )) || failed+=("$name")
  done
  echo "differential: $board: $count commands run in the real shell in ${boot_time} s"
  # A board that matched keeps only its texts (case-K.txt, .status,
  # .report.json); a failing one keeps everything.
  if (( ${#failed[@]} == failed_before )); then
    rm -rf "$dir/fat.img" "$dir/board" "$dir/rec" "$dir/shell"/c[0-9]* "$dir/sim"/c[0-9]* "$dir/replay"/c[0-9]*
  fi
done

elapsed=$((SECONDS - start))
if (( ${#failed[@]} > 0 )); then
  printf '  %s\n' "${failed[@]}" >&2
  kept=""
  [[ $# -eq 2 ]] && kept="; files in $work"
  fail "${#failed[@]} of $total commands differ or failed$kept (${elapsed} s)"
fi
replayed=""
(( record )) && replayed=", also on the boards as pellrix-record recorded them"
echo "differential: $total commands on ${#boards[@]} boards match between the UEFI Shell and pellrix-sim$replayed (${elapsed} s)"
