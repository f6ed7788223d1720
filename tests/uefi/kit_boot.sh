# SPDX-License-Identifier: BSD-2-Clause-Patent
# Booting the field kit's stick in OVMF under QEMU, for the kit's tests.
# Sourced after shell_boot.sh (uefi_test_settings, fail).

# boot_kit DIR DRIVE [VARS]: boots DRIVE (a raw disk image) with a copy of
# VARS (default $ovmf_vars) in DIR/vars.fd; the serial console goes to
# DIR/serial.log. The kit's final screen ends with "Press any key to restart
# the board."; a key is sent then, and the kit's restart ends QEMU
# (-no-reboot). Sets kit_verdict_tenths (QEMU's start to the verdict line),
# kit_still_tenths (the longest time the console stood still from the
# comparison test's first line to the verdict, to a tenth of a second) and
# boot_problem; returns 1 when the final screen never showed or QEMU did not
# end after the key. With cut_at=REGEX QEMU is killed as soon as the console
# shows REGEX (a power cut), and 0 is returned once it has. With
# screendump=FILE the board gets a standard VGA card and QEMU's monitor, and
# the final screen, as the card shows it, is dumped to FILE (PPM) before the
# key is sent.
boot_kit() {
  local dir=$1 drive=$2 vars=${3:-$ovmf_vars} log=$1/serial.log
  boot_problem=""
  kit_verdict_tenths=""
  mkdir -p "$dir"
  cp "$vars" "$dir/vars.fd" && chmod u+w "$dir/vars.fd" || { boot_problem="cannot copy $vars"; return 1; }
  : >"$log"
  rm -f "$dir/keys"
  mkfifo "$dir/keys" || { boot_problem="mkfifo failed"; return 1; }
  exec 3<>"$dir/keys"
  local lock=() main=(-drive "file=$drive,format=raw,media=disk") machine=(-machine q35) screen=()
  [[ -n ${screendump:-} ]] && screen=(-vga std -monitor "unix:$dir/monitor.sock,server=on,wait=off")
  # OVMF's Secure Boot builds keep their variables behind SMM.
  [[ $ovmf_code == *.secboot.fd || $ovmf_code == *.snakeoil.fd || $ovmf_code == *.ms.fd ]] &&
    machine=(-machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on)
  if [[ ${write_protected:-0} == 1 ]]; then
    main=(-drive "file=$drive,format=raw,if=none,id=stick,readonly=on" -device qemu-xhci -device usb-storage,drive=stick)
  fi
  [[ -n ${QEMU_LOCK:-} ]] && lock=(flock "$QEMU_LOCK")
  "${lock[@]}" timeout "$qemu_timeout" "$qemu" \
    "${machine[@]}" -m 512M -nodefaults -no-user-config -display none -no-reboot -nic none \
    -drive if=pflash,format=raw,unit=0,readonly=on,file="$ovmf_code" \
    -drive if=pflash,format=raw,unit=1,file="$dir/vars.fd" \
    "${main[@]}" "${screen[@]}" -chardev stdio,id=console,signal=off -serial chardev:console \
    <&3 >"$log" 2>"$dir/qemu.err" &
  local pid=$! started key_sent=0 cut=0 status testing=0 size last_size=-1 last_change now
  kit_still_tenths=""
  started=$(date +%s%N)
  trap 'kill "$pid" 2>/dev/null; exit 130' INT TERM
  while kill -0 "$pid" 2>/dev/null; do
    if [[ -z $kit_verdict_tenths ]]; then
      now=$(date +%s%N)
      ((testing)) || ! grep -qa 'Comparison test: ' "$log" || { testing=1 kit_still_tenths=0; }
      size=$(stat -c %s "$log")
      if ((size != last_size)); then
        last_size=$size last_change=$now
      elif ((testing && (now - last_change) / 100000000 > kit_still_tenths)); then
        kit_still_tenths=$(((now - last_change) / 100000000))
      fi
      grep -qa 'Verdict: ' "$log" && kit_verdict_tenths=$(((now - started) / 100000000))
    fi
    if [[ -n ${cut_at:-} ]] && grep -qaE "$cut_at" "$log"; then
      kill "$pid" 2>/dev/null
      cut=1
      break
    fi
    if ((!key_sent)) && grep -qa 'Press any key to restart the board.' "$log"; then
      sleep 0.5
      [[ -n ${screendump:-} ]] && dump_screen "$dir/monitor.sock" "$screendump"
      printf '\r' >&3
      key_sent=1
    fi
    sleep 0.1
  done
  wait "$pid"
  status=$?
  exec 3>&-
  trap - INT TERM
  sed 's/\x1b\[[0-9;=?]*[A-Za-z]//g' "$log" | tr -d '\r' >"$dir/console.txt"
  if ((cut)); then
    return 0
  elif ((!key_sent)); then
    boot_problem="the final screen never showed (QEMU status $status)"
  elif ((status != 0)); then
    boot_problem="QEMU did not end by the kit's restart after the key (status $status)"
  fi
  if [[ -n $boot_problem ]]; then
    echo "--- last lines of the serial console ($log) ---" >&2
    tail -n 30 "$dir/console.txt" >&2
    return 1
  fi
}

# dump_screen SOCKET FILE: QEMU's monitor writes the card's picture to FILE.
dump_screen() {
  rm -f "$2"
  "${PYTHON:-/usr/bin/python3}" - "$1" "$2" <<'PY' || boot_problem="the screen dump failed"
import os, socket, sys, time
monitor = socket.socket(socket.AF_UNIX)
monitor.connect(sys.argv[1])
monitor.sendall(b"screendump " + sys.argv[2].encode() + b"\n")
deadline = time.time() + 10
while not (os.path.exists(sys.argv[2]) and os.path.getsize(sys.argv[2]) > 0) and time.time() < deadline:
    time.sleep(0.1)
time.sleep(0.3)
monitor.close()
sys.exit(0 if os.path.exists(sys.argv[2]) else 1)
PY
}
