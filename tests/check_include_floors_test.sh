#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The include-floor check passes on this tree, and fails on a copy of it with
# one upward include planted (an image/ parser reaching firmware/, ops/
# reaching app/, pellrix-diff's comparison reaching its writers, a writer
# reaching the command line), naming the file.
set -euo pipefail
source_dir=$1
checker="$source_dir/tools/check-include-floors.py"
python3 "$checker" "$source_dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for planted in "image/checksums.cpp:firmware/tool_state.h" "ops/save_command.cpp:app/main.h" \
               "firmware/pool.cpp:sim/machine.h" "ops/compare_command.cpp:record/recorder.h" \
               "diff/compare/byte_areas.cpp:diff/report/report.h" "diff/report/report_text.cpp:diff/command_line.h" \
               "fwtree/guid.cpp:diff/compare/chip_dump.h"; do
  file=${planted%%:*}
  include=${planted#*:}
  rm -rf "$work/tree" && mkdir -p "$work/tree"
  cp -r "$source_dir"/{app,firmware,image,ops,record,runtime,fwtree,diff} "$work/tree/"
  printf '#include "%s"\n' "$include" >>"$work/tree/$file"
  if output=$(python3 "$checker" "$work/tree"); then
    echo "the check passed with $include planted in $file" >&2
    exit 1
  fi
  grep -q "^$file: includes .*$include" <<<"$output" || { echo "the check did not name $file: $output" >&2; exit 1; }
done
echo "each planted upward include was found"
