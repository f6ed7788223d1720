#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# pellrix-fleet on an archive of kit RUN folders (make_fleet_archive.py),
# against sha256sum of every chip and against single pellrix-diff runs;
# peak memory; the rerun with a warm cache. Run on demand, niced; prints one
# line per figure beside its goal.
#
#   bash bench/fleet/run_fleet_bench.sh BUILD_DIR WORKDIR [BOARDS] [DIFF_SAMPLE]
#
# BOARDS (default 1000) boards of two 16 MiB chips; the chips are sparse
# (about 2 MiB of disk each). The single pellrix-diff runs (Main and Backup
# against golden, Main against Backup) are timed on DIFF_SAMPLE boards
# (default 50) and scaled to all. Inputs are read once first, so that every
# timed run reads from the page cache. WORKDIR is removed at the end unless
# KEEP=1.
set -euo pipefail
build=$1
work=$2
boards=${3:-1000}
sample=${4:-50}
root=$(cd "$(dirname "$0")/../.." && pwd)
# PELLRIX_CORPUS names the real firmware corpus (as for the tests).
corpus=${PELLRIX_CORPUS:?set PELLRIX_CORPUS to the firmware corpus folder}
fleet=$build/fleet/pellrix-fleet
diff_tool=$build/diff/pellrix-diff
[[ -x $fleet && -x $diff_tool ]] || { echo "build pellrix-fleet and pellrix-diff first" >&2; exit 2; }
golden_source=$corpus/deb-ovmf-u1-OVMF.fd
other_source=$corpus/deb-ovmf-u2-OVMF.fd
[[ -f $golden_source && -f $other_source ]] || { echo "the OVMF corpus is missing ($corpus)" >&2; exit 2; }

need=$((boards * 2 * 2 + 512))  # MiB of disk
free=$(df -Pm "$(dirname "$work")" | awk 'NR == 2 { print $4 }')
[[ $free -gt $((need * 2)) ]] || { echo "$need MiB needed, $free MiB free" >&2; exit 2; }
rm -rf "$work"
mkdir -p "$work"
trap '[[ ${KEEP:-0} == 1 ]] || rm -rf "$work"' EXIT

seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.2f", e - s }'; }
now() { date +%s.%N; }

nice python3 "$root/bench/fleet/make_fleet_archive.py" "$golden_source" "$other_source" "$work" "$boards"
mapfile -d '' chips < <(find "$work/boards" -name '*.BIN' -print0)
chip_bytes=$(du -cb --apparent-size "${chips[@]}" | tail -1 | cut -f1)
echo "archive: $boards boards, ${#chips[@]} chips, $((chip_bytes >> 20)) MiB read, $(du -sm "$work" | cut -f1) MiB on disk"
printf '%s\0' "${chips[@]}" | nice xargs -0 cat >/dev/null  # into the page cache

start=$(now)
printf '%s\0' "${chips[@]}" | nice xargs -0 sha256sum >/dev/null
sha=$(seconds "$start" "$(now)")
start=$(now)
printf '%s\0' "${chips[@]}" | nice xargs -0 -n 64 -P 2 sha256sum >/dev/null
sha2=$(seconds "$start" "$(now)")

run_fleet() {  # the run's seconds and peak resident kilobytes
  local status=0
  nice /usr/bin/time -f '%e %M' -o "$work/time.txt" "$fleet" "$@" >"$work/fleet.out" 2>/dev/null || status=$?
  [[ $status -le 1 ]] || { echo "pellrix-fleet failed ($status)" >&2; exit 1; }
  tail -1 "$work/time.txt"  # after a line on a non-zero status
}
read -r fleet_s fleet_kb < <(run_fleet --json "$work/golden.bin" "$work/boards")
cp "$work/fleet.out" "$work/fleet.json"
read -r fill_s fill_kb < <(run_fleet --cache "$work/cache" "$work/golden.bin" "$work/boards")
read -r cached_s cached_kb < <(run_fleet --cache "$work/cache" "$work/golden.bin" "$work/boards")

diffs=0
start=$(now)
# Boards spread over the archive, so that the sample holds each kind.
step=$(( boards / sample > 0 ? boards / sample : 1 ))
for folder in $(find "$work/boards" -mindepth 1 -maxdepth 1 -type d | sort | awk -v s="$step" 'NR % s == 0' | head -n "$sample"); do
  for pair in "MAIN.BIN golden" "BACKUP.BIN golden" "MAIN.BIN BACKUP.BIN"; do
    set -- $pair
    a=$folder/$1
    b=$folder/$2
    [[ $2 == golden ]] && b=$work/golden.bin
    nice "$diff_tool" "$b" "$a" >/dev/null 2>&1 || true
    diffs=$((diffs + 1))
  done
done
sample_s=$(seconds "$start" "$(now)")
diff_all=$(awk -v s="$sample_s" -v n="$sample" -v b="$boards" 'BEGIN { printf "%.1f", s * b / n }')

groups=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(len(d["groups"]), "groups:", "; ".join("%d %s" % (g["count"], g["description"][:60]) for g in d["groups"]))' "$work/fleet.json")
ratio=$(awk -v f="$fleet_s" -v s="$sha" 'BEGIN { printf "%.2f", f / s }')
echo "groups: $groups"
echo "sha256sum of all chips:        $sha s (two at once: $sha2 s)"
echo "pellrix-fleet:                 $fleet_s s = ${ratio}x sha256sum (goal at most 1.5x)"
echo "pellrix-fleet peak memory:     $((fleet_kb / 1024)) MiB (goal under 1024 MiB); filling the cache $fill_s s, $((fill_kb / 1024)) MiB"
echo "pellrix-fleet, cache warm:     $cached_s s for $boards boards (goal under 2 s for 1,000), $((cached_kb / 1024)) MiB"
echo "single pellrix-diff runs:      $diff_all s for all $((boards * 3)) (from $diffs runs on $sample boards: $sample_s s)"
