# SPDX-License-Identifier: BSD-2-Clause-Patent
# shellcheck shell=bash
# Boots OVMF's UEFI Shell under QEMU, headless, with the serial console
# captured; sourced by the UEFI Shell tests.
#
#   boot_uefi_shell DIR DRIVE MEMORY [END]
#
# DRIVE is what QEMU's -drive file= takes for the shell's FS0: (a FAT image,
# a disk image, or fat:rw:FOLDER). The console goes to DIR/serial.log, the
# firmware's variables to DIR/vars.fd. Returns 0 when startup.nsh ran to its
# last marker ("=== all cases run ===") and powered the guest off; otherwise
# it prints the console's last lines, sets boot_problem and returns 1.
# END "prompt" is for a startup.nsh that ends at the shell's prompt instead
# (the field kit's): the prompt is then the end, and the guest is stopped.
#
# Uses ovmf_code, ovmf_vars, qemu and qemu_timeout from the caller, and runs
# QEMU under flock on QEMU_LOCK when that is set. Images in the caller's
# array extra_drives, when set, are attached after DRIVE (FS1:, FS2:, ...).
# With write_protected=1 DRIVE is a write-protected USB stick instead. For
# each pattern (grep -E) in the caller's array boot_timed, boot_timed_at
# holds the tenths of a second from QEMU's start until it first showed on the
# console (empty when it never did).

boot_uefi_shell() {
  local dir=$1 drive=$2 memory=$3 end=${4:-marker} log=$1/serial.log
  boot_problem=""
  if ! cp "$ovmf_vars" "$dir/vars.fd" || ! chmod u+w "$dir/vars.fd"; then
    boot_problem="cannot copy $ovmf_vars"
    return 1
  fi
  : >"$log"
  # Serial input comes from a FIFO held open here, so a key can skip the
  # shell's five-second countdown; if the key is missed the countdown simply
  # runs out.
  rm -f "$dir/keys"
  mkfifo "$dir/keys" || { boot_problem="mkfifo failed"; return 1; }
  exec 3<>"$dir/keys"
  local lock=() drives=() extra
  local main=(-drive "file=$drive,format=raw,media=disk")
  if [[ ${write_protected:-0} == 1 ]]; then
    main=(-drive "file=$drive,format=raw,if=none,id=stick,readonly=on" -device qemu-xhci -device usb-storage,drive=stick)
  fi
  for extra in ${extra_drives[@]+"${extra_drives[@]}"}; do
    drives+=(-drive "file=$extra,format=raw,media=disk")
  done
  [[ -n ${QEMU_LOCK:-} ]] && lock=(flock "$QEMU_LOCK")
  "${lock[@]}" timeout "$qemu_timeout" "$qemu" \
    -machine q35 -m "$memory" -nodefaults -no-user-config -display none -no-reboot -nic none \
    -drive if=pflash,format=raw,unit=0,readonly=on,file="$ovmf_code" \
    -drive if=pflash,format=raw,unit=1,file="$dir/vars.fd" \
    "${main[@]}" "${drives[@]}" \
    -chardev stdio,id=console,signal=off -serial chardev:console \
    <&3 >"$log" 2>"$dir/qemu.err" &
  local pid=$! key_sent=0 stopped_early=0 status started=$(date +%s%N) i
  boot_timed_at=()
  trap 'kill "$pid" 2>/dev/null; exit 130' INT TERM
  # A shell prompt means startup.nsh stopped early (for instance "Script Error
  # Status" when an image does not load): the guest is stopped at once
  # instead of waiting for the timeout.
  while kill -0 "$pid" 2>/dev/null; do
    for i in ${boot_timed[@]+"${!boot_timed[@]}"}; do
      if [[ -z ${boot_timed_at[i]:-} ]] && grep -qaE "${boot_timed[i]}" "$log"; then
        boot_timed_at[i]=$((($(date +%s%N) - started) / 100000000))
      fi
    done
    if (( !key_sent )) && grep -q 'seconds to skip' "$log"; then
      printf ' ' >&3
      key_sent=1
    fi
    if grep -qE '(Shell|FS[0-9]+:\\[^>]*)> ' "$log"; then
      stopped_early=1
      kill "$pid" 2>/dev/null
      break
    fi
    sleep 0.1
  done
  wait "$pid"
  status=$?
  exec 3>&-
  trap - INT TERM
  if (( stopped_early )) && [[ $end == prompt ]]; then
    :
  elif (( stopped_early )); then
    boot_problem="the shell stopped running startup.nsh and showed its prompt"
  elif [[ $end == prompt ]]; then
    boot_problem="the shell never showed its prompt (QEMU status $status, 124 after ${qemu_timeout} s)"
  elif (( status == 124 )); then
    boot_problem="QEMU did not power off within ${qemu_timeout} s"
  elif (( status != 0 )); then
    boot_problem="QEMU exited with status $status: $(cat "$dir/qemu.err")"
  elif ! tr -d '\r' <"$log" | sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' | grep -qx '=== all cases run ==='; then
    boot_problem="startup.nsh did not run to its end"
  fi
  if [[ -n $boot_problem ]]; then
    echo "--- last lines of the serial console ($log) ---" >&2
    sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$log" | tr -d '\r' | tail -n 30 >&2
    return 1
  fi
}

# The settings every UEFI Shell test shares, from the environment (OVMF_CODE,
# OVMF_VARS, QEMU, QEMU_TIMEOUT with DEFAULT_TIMEOUT seconds), for the test
# NAME that fail() names.
uefi_test_settings() {
  uefi_test_name=$1
  ovmf_code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
  ovmf_vars=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
  qemu=${QEMU:-qemu-system-x86_64}
  qemu_timeout=${QEMU_TIMEOUT:-${2:-300}}
}

fail() {
  echo "${uefi_test_name:-uefi}: FAILED: $*" >&2
  exit 1
}

# Sets work to WORK_DIR emptied, or without one to a temporary folder that
# is removed at exit.
make_work_dir() {
  if [[ -n ${1:-} ]]; then
    work=$1
    rm -rf "$work" && mkdir -p "$work" || fail "cannot create $work"
  else
    work=$(mktemp -d) || fail "mktemp failed"
    trap 'rm -rf "$work"' EXIT
  fi
  work=$(cd "$work" && pwd)
}

# Sets build to BUILD_DIR, the folder of pellrix-sim and the virtual board's
# EFI images, and images to those images; fails when one is not built.
require_vboard_build() {
  build=$(cd "$1" && pwd) || fail "no such directory: $1"
  images=("$build/pellrix-vboard.efi" "$build/pellrix-record-vboard.efi" "$build/vboard.efi" "$build/vbactive.efi")
  local file
  for file in "$build/pellrix-sim" "${images[@]}"; do
    [[ -f $file ]] || fail "not built: $file"
  done
}
