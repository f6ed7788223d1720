#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Runs the real pellrix.efi in OVMF's UEFI Shell under QEMU (headless, serial
# console) and compares what the shell shows for each command line, byte for
# byte, with the texts in expected/, and %lasterror% with the expected status.
#
# usage: run_shell_test.sh PELLRIX_EFI [WORK_DIR]
#   WORK_DIR keeps the FAT folder, the firmware variables and serial.log for
#   inspection; without it a temporary directory is used and removed.
#
# Environment (all optional):
#   OVMF_CODE     firmware code image  (default /usr/share/OVMF/OVMF_CODE_4M.fd)
#   OVMF_VARS     variable store template (default /usr/share/OVMF/OVMF_VARS_4M.fd)
#   QEMU          QEMU binary          (default qemu-system-x86_64)
#   QEMU_TIMEOUT  seconds before a hung guest is killed (default 120)
#
# OVMF offers no chip-select protocol, so every road that gets past the
# command line ends in "does not support" (130); a rejected command line
# prints the usage text (131).
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=shell_boot.sh
source "$here/shell_boot.sh"
expected_dir=$here/expected

ovmf_code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
ovmf_vars=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
qemu=${QEMU:-qemu-system-x86_64}
qemu_timeout=${QEMU_TIMEOUT:-120}

# name | arguments | expected %lasterror% (decimal) | expected text [| program]
# The program is pellrix.efi unless named; legacy-shell-launcher.efi starts
# the image named in its arguments as an EFI Shell 1.x would.
cases=(
  "help|/?|130|not_supported.txt"
  "invalid|/x|131|invalid_command.txt"
  "none||130|not_supported.txt"
  "delay-100|/delay 100|130|not_supported.txt"
  "delay-101|/delay 101|131|invalid_command.txt"
  "older-shell|pellrix.efi|130|older_shell.txt|legacy-shell-launcher.efi"
)

fail() {
  echo "uefi_shell: FAILED: $*" >&2
  exit 1
}

[[ $# -ge 1 && $# -le 2 ]] || { echo "usage: $0 PELLRIX_EFI [WORK_DIR]" >&2; exit 2; }
efi=$1
[[ -f $efi ]] || fail "no such file: $efi"
[[ -f $ovmf_code ]] || fail "OVMF firmware not found: $ovmf_code (Debian package ovmf, or set OVMF_CODE)"
[[ -f $ovmf_vars ]] || fail "OVMF variable store not found: $ovmf_vars (Debian package ovmf, or set OVMF_VARS)"
command -v "$qemu" >/dev/null || fail "$qemu not found (Debian package qemu-system-x86, or set QEMU)"
command -v timeout >/dev/null || fail "timeout (coreutils) not found"

# --- The image: PE32+, x86-64, EFI application, relocatable -----------------
u16() { od -An -tu2 --endian=little -j "$2" -N2 "$1" | tr -d ' \n'; }
u32() { od -An -tu4 --endian=little -j "$2" -N4 "$1" | tr -d ' \n'; }
check_image() {
  local file=$1 pe optional
  [[ $(u16 "$file" 0) == 23117 ]] || { echo "no MZ header"; return 1; }        # "MZ"
  pe=$(u32 "$file" 60)
  [[ $(u32 "$file" "$pe") == 17744 ]] || { echo "no PE signature"; return 1; }  # "PE\0\0"
  [[ $(u16 "$file" $((pe + 4))) == 34404 ]] || { echo "machine is not x86-64 (0x8664)"; return 1; }
  (( ($(u16 "$file" $((pe + 22))) & 1) == 0 )) || { echo "relocations stripped"; return 1; }
  optional=$((pe + 24))
  [[ $(u16 "$file" "$optional") == 523 ]] || { echo "optional header is not PE32+ (0x20b)"; return 1; }
  [[ $(u16 "$file" $((optional + 68))) == 10 ]] || { echo "subsystem is not EFI application (10)"; return 1; }
  (( $(u32 "$file" $((optional + 108))) > 5 )) || { echo "no base relocation directory"; return 1; }
  (( $(u32 "$file" $((optional + 112 + 5 * 8 + 4))) > 0 )) || { echo "base relocation directory is empty"; return 1; }
  local sections table i end size
  sections=$(u16 "$file" $((pe + 6)))
  table=$((optional + $(u16 "$file" $((pe + 20)))))
  size=$(stat -c %s "$file")
  for ((i = 0; i < sections; ++i)); do
    end=$(( $(u32 "$file" $((table + 40 * i + 20))) + $(u32 "$file" $((table + 40 * i + 16))) ))
    (( end <= size )) || { echo "truncated: section $i ends at byte $end, file has $size"; return 1; }
  done
}
image_problem=$(check_image "$efi") || fail "$efi: $image_problem"

# --- Work directory ------------------------------------------------------------
if [[ $# -eq 2 ]]; then
  work=$2
  mkdir -p "$work" || fail "cannot create $work"
  # Only what an earlier run left there is cleared.
  rm -rf "$work/fs" "$work/keys" "$work/vars.fd" "$work/serial.log" "$work/console.txt" "$work/qemu.err"
  rm -f "$work"/*.actual "$work"/*.status "$work"/*.diff
else
  work=$(mktemp -d) || fail "mktemp failed"
  trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)
mkdir -p "$work/fs"
cp "$efi" "$work/fs/pellrix.efi"
launcher=$(dirname "$efi")/legacy-shell-launcher.efi
[[ -f $launcher ]] || fail "not built: $launcher"
cp "$launcher" "$work/fs/"

# The script the shell runs: a marker before each command line, its status
# after; the shell wants CRLF line ends.
{
  echo "@echo -off"
  echo "fs0:"
  echo "cd \\"
  for entry in "${cases[@]}"; do
    IFS='|' read -r name arguments _ _ program <<<"$entry"
    echo "echo \"=== case $name ===\""
    echo "${program:-pellrix.efi}${arguments:+ $arguments}"
    echo "echo \"=== status %lasterror% ===\""
  done
  echo "echo \"=== all cases run ===\""
  echo "reset -s"
} | sed 's/$/\r/' >"$work/fs/startup.nsh"

# --- Boot ------------------------------------------------------------------------
log=$work/serial.log
start=$SECONDS
boot_uefi_shell "$work" "fat:rw:$work/fs" 256M || fail "$boot_problem"
elapsed=$((SECONDS - start))

# --- Compare -----------------------------------------------------------------------
esc=$'\033'
sed "s/${esc}\[[0-9;=?]*[A-Za-z]//g" "$log" >"$work/console.txt"

# Prints the console text between a case's marker and its status line, with
# CRLF turned into LF. A line that ended in a bare LF gets "<no CR>" appended
# and any other carriage return shows as "<CR>", so both show up in the diff.
# The status goes to STATUS_FILE.
extract_case() {
  awk -v begin="=== case $1 ===" -v status_file="$2" '
    { line = $0; crlf = sub(/\r$/, "", line) }
    !found { if (line == begin) found = 1; next }
    {
      if (match(line, /=== status 0x[0-9A-Fa-f]+ ===$/)) {
        printf "%s", substr(line, 1, RSTART - 1)
        print substr(line, RSTART + 11, RLENGTH - 15) > status_file
        complete = 1
        exit
      }
      gsub(/\r/, "<CR>", line)
      print line (crlf ? "" : "<no CR>")
    }
    END { if (!found) exit 2; if (!complete) exit 3 }
  ' "$work/console.txt"
}

failed=()
for entry in "${cases[@]}"; do
  IFS='|' read -r name arguments want_status expected_file program <<<"$entry"
  shown="${program:-pellrix.efi}${arguments:+ $arguments}"
  actual=$work/$name.actual
  status_file=$work/$name.status
  rm -f "$status_file"
  extract_case "$name" "$status_file" >"$actual"
  case $? in
    0) ;;
    2) echo "[$name] '$shown': marker missing from the console" >&2; failed+=("$name"); continue ;;
    *) echo "[$name] '$shown': no status line after the marker" >&2; failed+=("$name"); continue ;;
  esac
  ok=1
  if ! diff -u --label "expected/$expected_file" --label "console: $shown" \
      "$expected_dir/$expected_file" "$actual" >"$work/$name.diff"; then
    echo "[$name] '$shown': console text differs:" >&2
    cat "$work/$name.diff" >&2
    ok=0
  fi
  got=$(<"$status_file")
  if (( 16#${got#0x} != want_status )); then
    printf "[%s] '%s': %%lasterror%% is %s (%d), expected 0x%x (%d)\n" \
      "$name" "$shown" "$got" "$((16#${got#0x}))" "$want_status" "$want_status" >&2
    ok=0
  fi
  (( ok )) || failed+=("$name")
done

total=${#cases[@]}
if (( ${#failed[@]} > 0 )); then
  fail "${#failed[@]} of $total cases differ (${failed[*]}); serial console in $log (${elapsed} s)"
fi
echo "uefi_shell: $total of $total cases match in the OVMF UEFI Shell (${elapsed} s)"
