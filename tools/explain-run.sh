#!/usr/bin/env bash
# Explains one run of the field kit, from its RUNnnn folder copied off the
# stick: the on-board result from the log, pellrix-diff's report on the two
# saved chips (also drawn as a page, REPORT.HTML in the run folder), and the
# command that replays the recorded board.
#
#   bash tools/explain-run.sh RUN002
#
# PELLRIX_BUILD_DIR names the build holding pellrix-diff and pellrix-sim
# (default build/ of this tree). Exit status 0 when the run was explained,
# 2 when the folder or a program is missing or pellrix-diff could not read
# the dumps.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PELLRIX_BUILD_DIR:-$root/build}
diff_tool=$build/diff/pellrix-diff
sim=$build/pellrix-sim

trouble() {
  echo "explain-run: $*" >&2
  exit 2
}

[[ $# -eq 1 ]] || { echo "usage: $0 RUNnnn" >&2; exit 2; }
run=${1%/}
[[ -d $run ]] || trouble "no such folder: $run"
[[ -f $run/PELLRIX.LOG ]] || trouble "$run holds no PELLRIX.LOG: not a run folder of the kit"
[[ -x $diff_tool ]] || trouble "pellrix-diff is not built ($diff_tool); run: bash tools/build.sh"

# The exit statuses the kit records, %lasterror% style (hexadecimal).
status_name() {
  case $(( $1 )) in
    128) echo "success" ;;
    130) echo "not supported" ;;
    131) echo "invalid command" ;;
    132) echo "switch failed" ;;
    133) echo "out of memory" ;;
    134) echo "flash initialisation failed" ;;
    135) echo "flash size check failed" ;;
    136) echo "flash type check failed" ;;
    137) echo "block size check failed" ;;
    138) echo "BIOS size check failed" ;;
    139) echo "model name check failed" ;;
    140) echo "version check failed" ;;
    141) echo "part number check failed" ;;
    142) echo "data mismatch" ;;
    *) echo "unknown status" ;;
  esac
}

# The log with CRLF line ends and progress lines redrawn after a bare CR:
# each line as it was left on the screen.
screen() { tr -d '\000' <"$1" | sed 's/\r$//; s/.*\r//'; }

echo "== On-board result ($run)"
if [[ -f $run/RESULT.TXT ]]; then
  result=$(tr -d '\r' <"$run/RESULT.TXT" | head -n 1)
  echo "  $result"
  for field in $result; do
    [[ $field == *=0x* ]] || continue
    value=${field#*=}
    printf '  %-12s %s = %d, %s\n' "${field%%=*}" "$value" "$((value))" "$(status_name "$value")"
  done
else
  echo "  no RESULT.TXT: the run was cut short (power lost, key pressed, stick pulled)"
fi
echo
echo "The comparison test's console:"
screen "$run/PELLRIX.LOG" | awk '/^== / { n++ } n == 1 && !/^== / && NF' | sed 's/^/  /'
echo

echo "== pellrix-diff $run/MAIN.BIN $run/BACKUP.BIN"
diff_status=0
if [[ -f $run/MAIN.BIN && -f $run/BACKUP.BIN ]]; then
  "$diff_tool" --html "$run/REPORT.HTML" "$run/MAIN.BIN" "$run/BACKUP.BIN"
  diff_status=$?
  ((diff_status <= 1)) && echo "The report as a page: $run/REPORT.HTML"
elif [[ -f $run/MAIN.BIN || -f $run/BACKUP.BIN ]]; then
  echo "  only one chip was saved; see the saves in $run/PELLRIX.LOG"
else
  echo "  no saved chips: the kit saves them only when the comparison test fails"
fi
echo

echo "== Replay the recorded board"
if [[ -f $run/PELLRIX.REC/board.json ]]; then
  printf '  %q --board %q --\n' "$sim" "$run/PELLRIX.REC/board.json"
  echo "  (any command of the utility after --, e.g. /i or /s 2)"
else
  echo "  no PELLRIX.REC: the kit records the board only when the comparison test fails"
fi
((diff_status <= 1)) || exit 2
exit 0
