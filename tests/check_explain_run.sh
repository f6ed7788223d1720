#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# tools/explain-run.sh on run folders as the kit leaves them, whole and cut
# short: the verdict it gives, what it must never say, and its exit status.
#
# usage: check_explain_run.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1
build=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

fail() {
  echo "explain_run: FAILED: $*" >&2
  exit 1
}

"$build/pellrix-sim" --write-sample "$work/sample" >/dev/null || fail "pellrix-sim --write-sample failed"

# A run folder: its log, RESULT.TXT when $2 is not "-", and the named pieces.
make_run() {
  local dir=$work/$1 result=$2 piece
  shift 2
  mkdir -p "$dir"
  printf '== pellrix.efi\r\nPellgard comparison test FAIL !!!\r\n' >"$dir/PELLRIX.LOG"
  [[ $result == - ]] || printf '%s\r\n' "$result" >"$dir/RESULT.TXT"
  for piece in "$@"; do
    case $piece in
      dumps)
        cp "$work/sample/main.rom" "$dir/MAIN.BIN"
        cp "$work/sample/backup.rom" "$dir/BACKUP.BIN" ;;
      junk-dumps)
        head -c 100 /dev/zero >"$dir/MAIN.BIN"
        head -c 100 /dev/zero >"$dir/BACKUP.BIN" ;;
      record)
        mkdir -p "$dir/PELLRIX.REC"
        echo '{}' >"$dir/PELLRIX.REC/board.json" ;;
      part)  # the part size the kit records on RESULT.TXT's later lines
        printf 'part-bytes=%s\r\n' "$(stat -c %s "$work/sample/main.rom")" >>"$dir/RESULT.TXT" ;;
      cut-backup) head -c 4096 "$work/sample/backup.rom" >"$dir/BACKUP.BIN" ;;
      report-folder) mkdir -p "$dir/REPORT.HTML" ;;
      final-screen)  # the kit reached its final screen
        printf 'Verdict: FAIL - the chips'"'"' contents differ\nPress any key to restart the board.\n' >>"$dir/PELLRIX.LOG" ;;
      escape-leftover) : >"$dir/"$'\e[2J\e]0;x\a'".NEW" ;;
      huge-result)  # 100 KB of fields and a word that globs the whole disk
        { printf 'FAIL comparison=0x8E /*/*/*/*'; for _ in $(seq 12000); do printf ' x=0x80'; done; printf '\r\n'; } >"$dir/RESULT.TXT" ;;
      # Last in a list: a file the explaining user cannot read.
      unreadable-log) chmod 000 "$dir/PELLRIX.LOG" ;;
      unreadable-result) chmod 000 "$dir/RESULT.TXT" ;;
      *) : >"$dir/$piece" ;;  # an empty file of that name
    esac
  done
}

full="FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80"
# name | RESULT.TXT ("-": none) | pieces | status | text required | text forbidden
cases=(
  # Faults caught: a folder without a verdict explained as a pass (status 0,
  # "saves them only when the comparison test fails").
  "no-result|-||1|verdict unknown: the run was cut short|only when"
  "empty-result|||1|verdict unknown: the run was cut short|only when"
  "save-cut-short|-|MAIN.BIN.NEW|1|MAIN.BIN.NEW (0 bytes): written when the run stopped|only when"
  "leftover-beside-result|$full|dumps record BACKUP.BIN.NEW|1|verdict unknown|the evidence is incomplete"
  # Failed saves are not "saved only on failure".
  "saves-failed|FAIL comparison=0x8E save-main=0x82 save-backup=0x82 record=0x82||1|the evidence is incomplete|only when"
  "one-chip|FAIL comparison=0x8E save-main=0x80 save-backup=0x82 record=0x80|record MAIN.BIN|1|only one chip was saved|only when"
  # Dumps pellrix-diff cannot read are trouble, not an explanation.
  "unreadable-dumps|$full|junk-dumps record|2|could not read the saved chips|"
  "pass|PASS comparison=0x80||0|the comparison test passed|incomplete"
  "unsupported|UNSUPPORTED comparison=0x82||0|does not support the dual-chip service|only when"
  "no-room|FAIL comparison=0x8E save-main=none save-backup=none record=none||1|no room|only when"
  "complete-failure|$full|dumps record|0|pellrix-sim|incomplete"
  # A dump cut to 4 KiB is named and never compared (pellrix-diff would call
  # the missing part "only in Main").
  "cut-dump|$full|dumps part cut-backup record|1|BACKUP.BIN has 4096 bytes|only in Main"
  "cut-dump-no-part-size|$full|dumps cut-backup record|1|BACKUP.BIN 4096|only in Main"
  # A record missing after a failed switch is not "no room".
  "failed-switch|FAIL comparison=0x84 save-main=0x84 save-backup=0x80 record=0x82|BACKUP.BIN|1|the switch between chips failed|no room"
  # A run that reached its final screen on a full stick was not cut short.
  "finished-full-stick|-|final-screen|1|the run finished but RESULT.TXT could not be written|cut short"
  # A folder in REPORT.HTML's way: the text report all the same.
  "report-folder|$full|dumps part record report-folder|0|No REPORT.HTML: a folder named REPORT.HTML is in the way|could not read"
  # Names from the field are escaped: no terminal control sequence passes.
  "escaped-names|-|escape-leftover|1|\\E[2J|$(printf '\e[2J')"
  # Bounded on any RESULT.TXT: no pathname expansion of its words.
  "huge-result|-|huge-result dumps part record|0|FAIL comparison=0x8E|/usr"
  "-RUN003|PASS comparison=0x80||0|the comparison test passed|usage"
  # A file that cannot be read is not complete evidence, nor an empty
  # RESULT.TXT (run as a user without root's right to read anything).
  "unreadable-log|$full|dumps part record unreadable-log|1|PELLRIX.LOG cannot be read|"
  "unreadable-result|$full|dumps part record unreadable-result|1|RESULT.TXT cannot be read|RESULT.TXT is empty"
)

# Root reads a file whatever its mode: the explaining user is then "nobody",
# with copies of the script and pellrix-diff it may run, in a work folder
# it may enter.
reader=()
explain=$source_dir/tools/explain-run.sh
explain_build=$build
if ((EUID == 0)); then
  command -v setpriv >/dev/null || fail "setpriv not found (package util-linux)"
  reader=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  mkdir -p "$work/tools" "$work/build/diff"
  cp "$explain" "$work/tools/" && cp "$build/diff/pellrix-diff" "$work/build/diff/" || fail "cannot copy the tools"
  explain=$work/tools/explain-run.sh
  explain_build=$work/build
  chmod -R a+rX "$work"
fi
for entry in "${cases[@]}"; do
  IFS='|' read -r name result pieces want has lacks <<<"$entry"
  read -r -a list <<<"$pieces"
  make_run "$name" "${result:-}" "${list[@]}"
  as=()
  if [[ $pieces == *unreadable* ]]; then
    as=("${reader[@]}")
    chmod a+rwx "$work/$name"
    # The case means nothing if the explaining user can read the file.
    unreadable=$work/$name/RESULT.TXT
    [[ $pieces == *unreadable-log* ]] && unreadable=$work/$name/PELLRIX.LOG
    ! "${as[@]}" test -r "$unreadable" || fail "$name: the explaining user can read $unreadable"
  fi
  # A guard against a run that never ends, not a speed test.
  (cd "$work" && PELLRIX_BUILD_DIR=$explain_build timeout 120 "${as[@]}" bash "$explain" "$name") >"$work/$name.out" 2>&1
  status=$?
  [[ $status == "$want" ]] || { cat "$work/$name.out" >&2; fail "$name: exit status $status, expected $want"; }
  grep -qF -- "$has" "$work/$name.out" || { cat "$work/$name.out" >&2; fail "$name: does not say '$has'"; }
  if [[ -n $lacks ]] && grep -qF -- "$lacks" "$work/$name.out"; then
    cat "$work/$name.out" >&2
    fail "$name: says '$lacks'"
  fi
done
echo "explain_run: ${#cases[@]} run folders explained as they are"
