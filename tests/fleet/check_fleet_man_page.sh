#!/usr/bin/env bash
# The options pellrix-fleet's --help prints and those its manual page
# describes are the same set.
#
#   check_fleet_man_page.sh PELLRIX-FLEET MAN_PAGE.scd
set -euo pipefail
help=$("$1" --help | grep -E '^ +--' | grep -oE -- '--[a-z-]*' | sort -u)
page=$(grep -oE '^\*--[a-z-]*\*' "$2" | tr -d '*' | sort -u)
if [[ $help != "$page" ]]; then
  echo "--help and the manual page differ:"
  diff <(echo "$help") <(echo "$page")
  exit 1
fi
echo "--help and the manual page name the same options: $(echo $help)"
