#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Explains one run of the field kit, from its RUNnnn folder copied off the
# stick: the on-board result from the log, pellrix-diff's report on the two
# saved chips (also drawn as a page, REPORT.HTML in the run folder), and the
# command that replays the recorded board.
#
#   bash tools/explain-run.sh RUN002
#
# PELLRIX_BUILD_DIR names the build holding pellrix-diff and pellrix-sim
# (default build/ of this tree). Exit status 0 when the run was explained
# from complete evidence, 1 when the evidence is incomplete (the run was cut
# short, or a failed run lacks a saved chip or the record), 2 when the folder
# or a program is missing or pellrix-diff could not read the dumps.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PELLRIX_BUILD_DIR:-$root/build}
# PELLRIX_DIFF and PELLRIX_SIM name the programs themselves (an installation
# sets them).
diff_tool=${PELLRIX_DIFF:-$build/diff/pellrix-diff}
sim=${PELLRIX_SIM:-$build/pellrix-sim}

trouble() {
  echo "explain-run: $*" >&2
  exit 2
}

source "$root/tools/version.sh"
case ${1:-} in
  --help)
    cat <<'USAGE'
usage: explain-run.sh RUNnnn

Explains one run of the field kit from its run folder: the on-board result,
pellrix-diff's report on the saved chips (and REPORT.HTML beside them), and
the command that replays the recorded board. Exit status 0 explained from
complete evidence, 1 incomplete evidence, 2 trouble.

  --help, --version
USAGE
    exit 0 ;;
  --version) echo "pellrix-explain-run $(pellrix_version "$root")"; exit 0 ;;
esac
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

# What the folder holds, one entry a line, for a run whose story is not
# complete.
holdings() {
  local entry size
  for entry in "$run"/*; do
    [[ -e $entry ]] || continue
    size=$(du -b --apparent-size -s "$entry" | cut -f1)
    case $entry in
      *.NEW) echo "    ${entry##*/} ($size bytes): written when the run stopped, not kept" ;;
      *) echo "    ${entry##*/} ($size bytes)" ;;
    esac
  done
}

result=""
[[ -f $run/RESULT.TXT ]] && result=$(tr -d '\r' <"$run/RESULT.TXT" | awk 'NF { print; exit }')
verdict=${result%% *}
# A temporary name left beside a save or the record: that step never ended.
leftovers=$(cd "$run" && ls -d -- *.NEW 2>/dev/null | tr '\n' ' ')
incomplete=()
cut_short=0
if [[ -z $result || -n $leftovers ]]; then
  cut_short=1
  incomplete+=("the run was cut short")
fi

echo "== On-board result ($run)"
if ((cut_short)); then
  echo "  verdict unknown: the run was cut short (power lost, key pressed, stick pulled)"
  [[ -f $run/RESULT.TXT && -z $result ]] && echo "  RESULT.TXT is empty"
  [[ -n $leftovers ]] && echo "  a step never ended: ${leftovers% }"
  echo "  what is there:"
  holdings
fi
if [[ -n $result ]]; then
  echo "  $result"
  for field in $result; do
    [[ $field == *=0x* ]] || continue
    value=${field#*=}
    [[ $value =~ ^0x[0-9A-Fa-f]+$ ]] || continue
    name=$(status_name "$value")
    # A save or the record says 0x82 when it could not keep its file.
    [[ ${field%%=*} != comparison && $((value)) == 130 ]] && name="not kept (no room, or the file system refused it)"
    printf '  %-12s %s = %d, %s\n' "${field%%=*}" "$value" "$((value))" "$name"
  done
fi
# A failed comparison keeps both chips and the record; each step that did
# not end with 0x80 left its piece out.
saves_failed=()
if [[ $verdict == FAIL ]]; then
  for field in $result; do
    case ${field%%=*} in
      save-main | save-backup | record) [[ ${field#*=} == 0x80 ]] || saves_failed+=("$field") ;;
    esac
  done
  ((${#saves_failed[@]} == 0)) || incomplete+=("not every chip or record was kept (${saves_failed[*]})")
  for piece in MAIN.BIN BACKUP.BIN PELLRIX.REC/board.json; do
    [[ -f $run/$piece ]] || incomplete+=("$piece is missing")
  done
fi
if ((${#incomplete[@]} > 0)) && ((!cut_short)); then
  echo "  the evidence is incomplete: $(IFS=';'; echo "${incomplete[*]}" | sed 's/;/; /g')"
fi
echo
echo "The comparison test's console:"
screen "$run/PELLRIX.LOG" | awk '/^== / { n++ } n == 1 && !/^== / && NF' | sed 's/^/  /'
echo

# Why a piece of evidence is not there, as far as the folder tells.
absent_reason() {
  if ((cut_short)); then
    echo "the run was cut short"
  elif [[ $verdict == PASS ]]; then
    echo "the comparison test passed, and the kit keeps $1 only when it fails"
  elif [[ $verdict == FAIL ]]; then
    echo "the kit could not keep $1 (no room, or a save or the record failed); see $run/PELLRIX.LOG"
  elif [[ $verdict == UNSUPPORTED ]]; then
    echo "the board does not support the dual-chip service, so the kit kept nothing"
  else
    echo "the kit kept no $1 on this run; see $run/RESULT.TXT"
  fi
}

echo "== pellrix-diff $run/MAIN.BIN $run/BACKUP.BIN"
diff_status=0
if [[ -f $run/MAIN.BIN && -f $run/BACKUP.BIN ]]; then
  "$diff_tool" --html "$run/REPORT.HTML" "$run/MAIN.BIN" "$run/BACKUP.BIN"
  diff_status=$?
  ((diff_status <= 1)) && echo "The report as a page: $run/REPORT.HTML"
  ((diff_status <= 1)) || echo "  pellrix-diff could not read the saved chips (status $diff_status)"
elif [[ -f $run/MAIN.BIN || -f $run/BACKUP.BIN ]]; then
  echo "  only one chip was saved: $(absent_reason "both chips")"
else
  echo "  no saved chips: $(absent_reason "the chips")"
fi
echo

echo "== Replay the recorded board"
if [[ -f $run/PELLRIX.REC/board.json ]]; then
  printf '  %q --board %q --\n' "$sim" "$run/PELLRIX.REC/board.json"
  echo "  (any command of the utility after --, e.g. /i or /s 2)"
  if grep -q '"unread"' "$run/PELLRIX.REC/board.json"; then
    echo "  the record lacks a chip that the switch could not reach (\"unread\" in board.json)"
  fi
else
  echo "  no PELLRIX.REC: $(absent_reason "a record")"
fi
((diff_status <= 1)) || exit 2
((${#incomplete[@]} == 0)) || exit 1
exit 0
