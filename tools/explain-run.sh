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
# short, a file cannot be read, a saved chip is not of the recorded part size,
# or a failed run lacks a saved chip or the record), 2 when the folder
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
# A folder named like an option ("-RUN003") is still a folder.
[[ $run == -* ]] && run=./$run
[[ -d $run ]] || trouble "no such folder: $(printf '%q' "$run")"
[[ -f $run/PELLRIX.LOG ]] || trouble "$(printf '%q' "$run") holds no PELLRIX.LOG: not a run folder of the kit"
[[ -x $diff_tool ]] || trouble "pellrix-diff is not built ($diff_tool); run: bash tools/build.sh"

# The exit statuses the kit records, %lasterror% style (hexadecimal).
# Sets status_text (no subshell per field).
status_name() {
  case $(( $1 )) in
    128) status_text="success" ;;
    130) status_text="not supported" ;;
    131) status_text="invalid command" ;;
    132) status_text="switch failed" ;;
    133) status_text="out of memory" ;;
    134) status_text="flash initialisation failed" ;;
    135) status_text="flash size check failed" ;;
    136) status_text="flash type check failed" ;;
    137) status_text="block size check failed" ;;
    138) status_text="BIOS size check failed" ;;
    139) status_text="model name check failed" ;;
    140) status_text="version check failed" ;;
    141) status_text="part number check failed" ;;
    142) status_text="data mismatch" ;;
    *) status_text="unknown status" ;;
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
    # Names come from the field: escaped before they reach the terminal.
    case $entry in
      *.NEW) printf '    %q (%s bytes): written when the run stopped, not kept\n' "${entry##*/}" "$size" ;;
      *) printf '    %q (%s bytes)\n' "${entry##*/}" "$size" ;;
    esac
  done
}

# RESULT.TXT's first line, read from its first 4 KiB and cut at 512
# characters: a folder from the field may hold anything under that name.
result=""
result_unreadable=0
if [[ -f $run/RESULT.TXT ]]; then
  if [[ -r $run/RESULT.TXT ]]; then
    result=$(head -c 4096 "$run/RESULT.TXT" | tr -d '\r\000' | awk 'NF { print substr($0, 1, 512); exit }')
  else
    result_unreadable=1
  fi
fi
# The fields split without pathname expansion ("/*/*/*" stays a word).
read -r -a fields <<<"$result"
verdict=${fields[0]:-}
# The size a whole chip file has, as the kit recorded it.
part_bytes=""
[[ -r $run/RESULT.TXT ]] && part_bytes=$(head -c 4096 "$run/RESULT.TXT" | tr -d '\r' | sed -n 's/^part-bytes=\([0-9]\{1,10\}\)$/\1/p' | head -n 1)
# The kit's own last screen in its log: the run ended there.
log_unreadable=0
[[ -r $run/PELLRIX.LOG ]] || log_unreadable=1
finished=0
((log_unreadable)) || ! grep -aq '^Press any key to restart the board' "$run/PELLRIX.LOG" || finished=1
# A temporary name left beside a save or the record: that step never ended.
leftovers=$(cd -- "$run" && ls -d -- *.NEW 2>/dev/null | while IFS= read -r name; do printf '%q ' "$name"; done)
incomplete=()
cut_short=0
if ((result_unreadable)); then
  incomplete+=("RESULT.TXT cannot be read")
elif ((log_unreadable)); then
  incomplete+=("PELLRIX.LOG cannot be read")
fi
if ((!result_unreadable)) && [[ -z $result ]] && ((finished)); then
  # The kit reached its final screen but could not write RESULT.TXT (the
  # stick was full): the verdict is the log's.
  verdict=$(grep -a -m1 '^Verdict: ' "$run/PELLRIX.LOG" | tr -d '\r' | awk '{ print $2 }')
  incomplete+=("the run finished but RESULT.TXT could not be written (the stick was full)")
elif ((!result_unreadable)) && [[ -z $result || -n $leftovers ]]; then
  cut_short=1
  incomplete+=("the run was cut short")
fi

echo "== On-board result ($run)"
if ((cut_short)); then
  echo "  verdict unknown: the run was cut short (power lost, key pressed, stick pulled)"
  [[ -f $run/RESULT.TXT && -z $result ]] && ((!result_unreadable)) && echo "  RESULT.TXT is empty"
  [[ -n $leftovers ]] && echo "  a step never ended: ${leftovers% }"
  echo "  what is there:"
  holdings
fi
((result_unreadable)) && echo "  RESULT.TXT cannot be read (permissions or a damaged file system): verdict unknown"
((log_unreadable)) && echo "  PELLRIX.LOG cannot be read (permissions or a damaged file system)"
comparison=""
for field in "${fields[@]}"; do
  [[ ${field%%=*} == comparison ]] && comparison=${field#*=}
done
if [[ -n $result ]]; then
  # Control characters from the field do not reach the terminal.
  printf '  %s\n' "${result//[$'\001'-$'\037'$'\177']/?}"
  for field in "${fields[@]:0:16}"; do
    [[ $field == *=0x* ]] || continue
    value=${field#*=}
    [[ $value =~ ^0x[0-9A-Fa-f]{1,8}$ ]] || continue
    status_name "$value"
    name=$status_text
    # A save or the record says 0x82 when it could not keep its file: on a
    # failed switch because a chip could not be reached, else for room.
    if [[ ${field%%=*} != comparison && $((value)) == 130 ]]; then
      if [[ $comparison =~ ^0x84$ ]]; then
        name="not kept (the switch between chips failed, a chip could not be reached)"
      else
        name="not kept (no room, or the file system refused it)"
      fi
    fi
    printf '  %-12s %s = %d, %s\n' "${field%%=*}" "$value" "$((value))" "$name"
  done
fi
# A failed comparison keeps both chips and the record; each step that did
# not end with 0x80 left its piece out.
saves_failed=()
if [[ $verdict == FAIL ]]; then
  for field in "${fields[@]}"; do
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
((log_unreadable)) || screen "$run/PELLRIX.LOG" | LC_ALL=C tr -d '\001-\010\013-\037\177' | awk '/^== / { n++ } n == 1 && !/^== / && NF' | sed 's/^/  /'
echo

# Why a piece of evidence is not there, as far as the folder tells.
absent_reason() {
  if ((cut_short)); then
    echo "the run was cut short"
  elif [[ $verdict == PASS ]]; then
    echo "the comparison test passed, and the kit keeps $1 only when it fails"
  elif [[ $verdict == FAIL && $comparison =~ ^0x84$ ]]; then
    echo "the switch between chips failed, so the kit could not reach a chip for $1; see $run/PELLRIX.LOG"
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
# A chip file is whole when it has the part size the run recorded (else
# when both have one size): a cut or padded dump is named, never compared.
cut_dumps=()
if [[ -f $run/MAIN.BIN && -f $run/BACKUP.BIN ]]; then
  main_size=$(stat -c %s -- "$run/MAIN.BIN")
  backup_size=$(stat -c %s -- "$run/BACKUP.BIN")
  for piece in MAIN.BIN BACKUP.BIN; do
    [[ -r $run/$piece ]] || cut_dumps+=("$piece cannot be read")
  done
  if [[ -n $part_bytes ]]; then
    ((main_size == part_bytes)) || cut_dumps+=("MAIN.BIN has $main_size bytes, the part $part_bytes")
    ((backup_size == part_bytes)) || cut_dumps+=("BACKUP.BIN has $backup_size bytes, the part $part_bytes")
  elif ((main_size != backup_size)); then
    cut_dumps+=("MAIN.BIN has $main_size bytes, BACKUP.BIN $backup_size")
  fi
fi
if ((${#cut_dumps[@]} > 0)); then
  for problem in "${cut_dumps[@]}"; do
    echo "  incomplete: $problem"
    incomplete+=("$problem")
  done
  echo "  the saved chips are not compared: a cut dump would show differences that are not on the board"
elif [[ -f $run/MAIN.BIN && -f $run/BACKUP.BIN ]]; then
  # The page goes beside the dumps when the folder takes it; else the text
  # report alone, and why.
  page=$run/REPORT.HTML
  page_problem=""
  if [[ -d $page ]]; then
    page_problem="a folder named REPORT.HTML is in the way"
  elif [[ -e $page && ! -w $page ]] || [[ ! -e $page && ! -w $run ]]; then
    page_problem="the run folder cannot be written (read-only folder or mount)"
  elif ! (: >>"$page") 2>/dev/null; then
    page_problem="REPORT.HTML cannot be written"
  fi
  if [[ -z $page_problem ]]; then
    "$diff_tool" --html "$page" -- "$run/MAIN.BIN" "$run/BACKUP.BIN"
  else
    "$diff_tool" -- "$run/MAIN.BIN" "$run/BACKUP.BIN"
  fi
  diff_status=$?
  if ((diff_status <= 1)); then
    [[ -z $page_problem ]] && echo "The report as a page: $run/REPORT.HTML"
    [[ -n $page_problem ]] && echo "No REPORT.HTML: $page_problem"
  else
    echo "  pellrix-diff could not read the saved chips (status $diff_status)"
  fi
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
