#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Random boards in both builds: K boards drawn from a seed (random_boards.py),
# each with its own random command list, run by run_differential_test.sh in
# OVMF's real UEFI Shell on the virtual board and in pellrix-sim. Any
# difference is a fault of the simulator, the virtual board or the program.
#
# usage: run_differential_fuzz.sh BUILD_DIR [--seed N] [--boards K] [--work DIR]
#   --seed N    the boards' seed (default: a new one, printed first)
#   --boards K  how many boards (default 100)
#   --work DIR  keeps every mismatching board (board.json, images, both
#               sides' transcripts, the FAT image) under DIR/random-N-I;
#               without it a temporary directory is used and removed
#
# Prints the seed first, then one line per board; for a mismatch the board
# file and the differences (diffs of the two transcripts). The last line is
# "K boards, C commands, M mismatches" (M counts the commands that differ or
# failed); the status is 0 only when M is 0.
# Board random-N-I is the same on every run: run_differential_test.sh with
# VBOARD_BOARDS=random-N-I runs it alone.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage() { echo "usage: $0 BUILD_DIR [--seed N] [--boards K] [--work DIR]" >&2; exit 2; }

[[ $# -ge 1 ]] || usage
build=$1
shift
seed=""
count=100
work=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --seed) [[ $# -ge 2 && $2 =~ ^[0-9]+$ ]] || usage; seed=$2; shift 2 ;;
    --boards) [[ $# -ge 2 && $2 =~ ^[0-9]+$ ]] || usage; count=$2; shift 2 ;;
    --work) [[ $# -ge 2 ]] || usage; work=$2; shift 2 ;;
    *) usage ;;
  esac
done
[[ -n $seed ]] || seed=$(( (RANDOM << 15 | RANDOM) ))
echo "seed $seed"

if [[ -n $work ]]; then
  mkdir -p "$work" || { echo "cannot create $work" >&2; exit 2; }
else
  work=$(mktemp -d) || exit 2
  trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)

commands=0
mismatches=0
for ((i = 1; i <= count; ++i)); do
  board=random-$seed-$i
  log=$work/$board.log
  VBOARD_BOARDS=$board bash "$here/run_differential_test.sh" "$build" "$work" >"$log" 2>&1
  status=$?
  run=$(sed -n 's/^differential: .*: \([0-9]*\) commands run in the real shell.*/\1/p' "$log")
  # A board whose boot failed keeps its plan.
  [[ -z $run && -f $work/$board/board/plan.txt ]] && run=$(tr ';' '\n' <"$work/$board/board/plan.txt" | grep -c .)
  run=${run:-0}
  if (( status == 0 )); then
    echo "$board: $run commands match"
    rm -f "$log"
  else
    # "N of T commands differ or failed": N is this board's mismatches; a
    # board that never got that far counts as one.
    bad=$(sed -n 's/.*FAILED: \([0-9]*\) of \([0-9]*\) commands differ.*/\1/p' "$log")
    bad=${bad:-1}
    mismatches=$((mismatches + bad))
    echo "$board: $bad of $run commands differ; board file $work/$board/board/board.json ($(cat "$work/$board/board/note.txt" 2>/dev/null))"
    grep -v '^differential: .* commands run in the real shell' "$log" | sed 's/^/  /'
  fi
  commands=$((commands + run))
done
echo "$count boards, $commands commands, $mismatches mismatches"
(( mismatches == 0 ))
