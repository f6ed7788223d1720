#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Holds a program's manual page or bash completion to the options its help
# text prints, both ways: an option added to the program but not documented
# (or not completed), or one documented that the program dropped, fails.
#
#   check_program_options.sh man PAGE [-- HELP_COMMAND...]
#       PAGE (roff, or scdoc source NAME.SECTION.scd) renders with `man -l` without a warning; the options of
#       its OPTIONS or COMMANDS section equal the help's (without a help
#       command, for a program that cannot run here, only the rendering is
#       checked).
#   check_program_options.sh completion FILE NAME -- HELP_COMMAND...
#       FILE, sourced after bash-completion, completes NAME's "-" to exactly
#       the help's options.
#
# Options are words that start with one or two dashes and a letter, or a
# slash and letters (the utility's commands), standing on their own.
set -uo pipefail
fail() { echo "options: $*" >&2; exit 1; }

options_in() { grep -oP '(?<![\w/.\-])(--?[A-Za-z][A-Za-z0-9-]*|/[a-z]+)(?![\w/])' | sort -u; }

mode=${1:-}
case $mode in
  man) (($# == 2)) || { (($# >= 4)) && [[ $3 == -- ]]; } || fail "usage: $0 man PAGE [-- HELP_COMMAND...]"
    subject=$2; shift $(($# == 2 ? 2 : 3)) ;;
  completion) (($# >= 5)) && [[ $4 == -- ]] || fail "usage: $0 completion FILE NAME -- HELP_COMMAND..."
    subject=$2; name=$3; shift 4 ;;
  *) fail "usage: $0 man|completion ..." ;;
esac
shown=$subject
[[ -f $subject ]] || fail "no such file: $subject"
# A page's scdoc source is rendered here as the build renders it, so that the
# check needs no build of the pages.
if [[ $mode == man && $subject == *.scd ]]; then
  rendered=$(mktemp) || exit 1
  trap 'rm -f "$rendered"' EXIT
  scdoc <"$subject" >"$rendered" || fail "scdoc refuses $subject"
  subject=$rendered
fi

check_renders() {
  local warnings
  warnings=$(MANWIDTH=80 man --warnings -l "$subject" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$shown renders with warnings: $warnings"
}
if [[ $mode == man ]] && (($# == 0)); then
  check_renders
  echo "options: $shown renders (its program does not run here)"
  exit 0
fi

# The utility ends its usage with 128, so the status is not judged: the
# text must name options.
help=$("$@" 2>&1)
want=$(options_in <<<"$help")
[[ -n $want ]] || fail "'$*' printed no options"

if [[ $mode == man ]]; then
  check_renders
  # Unhyphenated and unjustified, so that no option is split across lines.
  have=$(MANWIDTH=80 man --nh --nj -l "$subject" 2>/dev/null | col -bx |
    awk '/^[A-Z]/ { inside = ($0 == "OPTIONS" || $0 == "COMMANDS"); next } inside' | options_in)
else
  have=$(bash -c '
    source /usr/share/bash-completion/bash_completion || exit 1
    source "$1" || exit 1
    function=$(complete -p "$2" 2>/dev/null | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
    [[ -n $function ]] || { echo "no completion function for $2" >&2; exit 1; }
    COMP_WORDS=("$2" -) COMP_CWORD=1 COMP_LINE="$2 -" COMP_POINT=${#COMP_LINE}
    "$function" "$2" - "$2"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$subject" "$name" | tr -d ' =' | options_in) ||
    fail "$shown does not complete $name"
fi
[[ -n $have ]] || fail "$shown names no options"

missing=$(comm -23 <(echo "$want") <(echo "$have") | tr '\n' ' ')
extra=$(comm -13 <(echo "$want") <(echo "$have") | tr '\n' ' ')
[[ -z $missing ]] || fail "$shown lacks what '$*' prints: $missing"
[[ -z $extra ]] || fail "$shown has what '$*' does not print: $extra"
echo "options: $shown matches '$*' ($(wc -l <<<"$want") options)"
