#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# pellrix-explain-run on run folders as the kit leaves them, whole and cut
# short, and on hostile ones (a FIFO, a device, links out of the folder and
# in loops, control bytes, 10 MB files): the verdict it gives, what it must
# never say, its exit status, and that nothing but printable text reaches
# the terminal and nothing outside the run folder is read or written.
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
      log-cut) printf 'log=incomplete\r\n' >>"$dir/RESULT.TXT" ;;
      result-fifo) rm -f "$dir/RESULT.TXT" && mkfifo "$dir/RESULT.TXT" ;;
      log-fifo) rm -f "$dir/PELLRIX.LOG" && mkfifo "$dir/PELLRIX.LOG" ;;
      result-device) rm -f "$dir/RESULT.TXT" && mknod "$dir/RESULT.TXT" c 1 5 ;;  # /dev/zero: endless
      result-link-out) rm -f "$dir/RESULT.TXT" && ln -s "$work/outside-result.txt" "$dir/RESULT.TXT" ;;
      dump-link-out) rm -f "$dir/MAIN.BIN" && ln -s "$work/sample/main.rom" "$dir/MAIN.BIN" ;;
      report-link-out) ln -s "$work/outside-page.txt" "$dir/REPORT.HTML" ;;
      record-loop) ln -s PELLRIX.REC "$dir/PELLRIX.REC" ;;
      folder-loop) ln -s . "$dir/PELLRIX.REC" ;;
      result-self-link) rm -f "$dir/RESULT.TXT" && ln -s RESULT.TXT "$dir/RESULT.TXT" ;;
      control-log)  # a title, a screen clear and a C1 CSI in the test's console
        printf '\e]2;owned\a\e[2J\x9b31m red\r\n' >>"$dir/PELLRIX.LOG" ;;
      control-result) printf 'FAIL comparison=0x8E \e]2;owned\a=0x80\r\n' >"$dir/RESULT.TXT" ;;
      big-log)  # 10 MB of the test's console
        head -c 10000000 /dev/zero | tr '\0' 'x' | fold -w 99 >>"$dir/PELLRIX.LOG" ;;
      big-result) head -c 10000000 /dev/zero >"$dir/RESULT.TXT" ;;
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
  "escaped-names|-|escape-leftover|1|\\x1B[2J|"
  # A RESULT.TXT far longer than the kit writes is not its: not read, and
  # no pathname expansion of its words.
  "huge-result|-|huge-result dumps part record|1|longer than the kit writes|/usr"
  # A step other than 0x80 is not kept, whatever files are there.
  "save-main-0x84|FAIL comparison=0x8E save-main=0x84 save-backup=0x80 record=0x80|dumps part record|1|not every chip or record was kept (save-main=0x84)|"
  # A log the stick stopped taking: incomplete, and where it stops.
  "log-cut|$full|dumps part record log-cut|1|the log stops early|"
  # Hostile folders: never a hang, never a byte read or written outside.
  "result-fifo|$full|dumps part record result-fifo|1|RESULT.TXT is not a regular file|"
  "result-device|$full|dumps part record result-device|1|RESULT.TXT is not a regular file|"
  "log-fifo|$full|dumps part record log-fifo|1|PELLRIX.LOG cannot be read|"
  "result-link-out|-|result-link-out|1|RESULT.TXT is a link (not followed)|the comparison test passed"
  "dump-link-out|$full|dumps part record dump-link-out|1|MAIN.BIN is a link (not followed)|"
  "report-link-out|$full|dumps part record report-link-out|0|REPORT.HTML is a link: not followed, not written|"
  "record-loop|$full|dumps part record-loop|1|PELLRIX.REC/board.json is missing|"
  "folder-loop|$full|dumps part folder-loop|1|PELLRIX.REC/board.json is missing|"
  "result-self-link|$full|result-self-link|1|RESULT.TXT is a link (not followed)|"
  "control-log|$full|dumps part record control-log|0|\\x1B]2;owned\\x07\\x1B[2J\\x9B31m red|"
  "control-result|-|control-result|1|RESULT.TXT is not text|"
  "big-log|$full|dumps part record big-log|0|more lines not shown|"
  "big-result|-|big-result|1|longer than the kit writes|"
  "-RUN003|PASS comparison=0x80||0|the comparison test passed|usage"
  # A file that cannot be read is not complete evidence, nor an empty
  # RESULT.TXT (run as a user without root's right to read anything).
  "unreadable-log|$full|dumps part record unreadable-log|1|PELLRIX.LOG cannot be read|"
  "unreadable-result|$full|dumps part record unreadable-result|1|RESULT.TXT cannot be read|RESULT.TXT is empty"
)

printf 'PASS comparison=0x80\r\n' >"$work/outside-result.txt"
printf 'not a page\n' >"$work/outside-page.txt"

# Root reads a file whatever its mode: the explaining user is then "nobody",
# with a copy of the program it may run, in a work folder it may enter.
reader=()
explain=$build/explain/pellrix-explain-run
if ((EUID == 0)); then
  command -v setpriv >/dev/null || fail "setpriv not found (package util-linux)"
  reader=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  cp "$explain" "$work/" || fail "cannot copy the program"
  explain=$work/pellrix-explain-run
  chmod -R a+rX "$work"
fi
for entry in "${cases[@]}"; do
  IFS='|' read -r name result pieces want has lacks <<<"$entry"
  read -r -a list <<<"$pieces"
  # A device node needs root; elsewhere the case is left out.
  [[ $pieces == *result-device* ]] && ((EUID != 0)) && continue
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
  (cd "$work" && timeout 120 "${as[@]}" "$explain" "$name") >"$work/$name.out" 2>&1
  status=$?
  [[ $status == "$want" ]] || { cat "$work/$name.out" >&2; fail "$name: exit status $status, expected $want"; }
  grep -qF -- "$has" "$work/$name.out" || { cat "$work/$name.out" >&2; fail "$name: does not say '$has'"; }
  if [[ -n $lacks ]] && grep -qF -- "$lacks" "$work/$name.out"; then
    cat "$work/$name.out" >&2
    fail "$name: says '$lacks'"
  fi
  # Only printable ASCII and line ends reach the terminal.
  if LC_ALL=C grep -q '[^[:print:]]' "$work/$name.out"; then
    LC_ALL=C grep -n '[^[:print:]]' "$work/$name.out" | cat -v >&2
    fail "$name: prints bytes that are not printable text"
  fi
done
# Nothing outside the run folders was written through a link.
[[ $(cat "$work/outside-page.txt") == "not a page" ]] || fail "REPORT.HTML was written through a link"
cmp -s "$work/sample/main.rom" "$work/report-link-out/MAIN.BIN" || fail "the dumps changed"
echo "explain_run: ${#cases[@]} run folders explained as they are"
