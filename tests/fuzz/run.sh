#!/bin/sh
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds the fuzz targets (CMake, PELLRIX_BUILD_FUZZ with clang), writes their
# seed inputs and runs each for SECONDS (default 60). Prints one line per
# target (runs, executions per second, coverage, crash or not) and exits
# non-zero when any target crashed; the crashing input and the target's full
# log stay in the output directory.
#   tests/fuzz/run.sh [SECONDS]
# Output goes to $PELLRIX_FUZZ_DIR (default: build-fuzz in the source tree);
# $PELLRIX_FUZZ_JOBS sets the build's parallel jobs.
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${PELLRIX_FUZZ_DIR:-$root/build-fuzz}
jobs=${PELLRIX_FUZZ_JOBS:-$(nproc)}
targets="image checksums volume_walker window_locator board_file vboard_file fwtree decompress diff variable_value
  certificate placement run_result record_lines fleet_cache capsule"

mkdir -p "$out"
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="${PELLRIX_FUZZ_CC:-clang}" -DCMAKE_CXX_COMPILER="${PELLRIX_FUZZ_CXX:-clang++}" \
  -DPELLRIX_BUILD_FUZZ=ON -DPELLRIX_BUILD_EFI=OFF -DPELLRIX_BUILD_TESTS=OFF >"$out/configure.log" 2>&1 ||
  { cat "$out/configure.log" >&2; exit 1; }
cmake --build "$out" -j"$jobs" --target fuzz_all >"$out/build.log" 2>&1 || { tail -50 "$out/build.log" >&2; exit 1; }
rm -rf "$out"/seeds_*
"$out/tests/fuzz/make_seeds" "$out"
"$out/tests/fuzz/make_fwtree_seeds" "$out" "$root/tests/data/ovmf/ovmf-2022.11-6+deb12u1.fd"

status=0
for target in $targets; do
  corpus="$out/corpus_$target"
  log="$out/fuzz_$target.log"
  mkdir -p "$corpus" "$out/crashes" "$out/seeds_$target"
  # The firmware-tree target starts from real volumes of a few hundred KiB;
  # pellrix-diff's and the fleet's from the small inputs kept in
  # tests/fuzz/corpus/TARGET (new inputs go to the output directory's
  # corpus, the first one named).
  case $target in fwtree) max_len=500000 ;; *) max_len=20000 ;; esac
  kept=""
  [ -d "$root/tests/fuzz/corpus/$target" ] && kept="$root/tests/fuzz/corpus/$target"
  if (cd "$out" && ./tests/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=$max_len -print_final_stats=1 \
        -artifact_prefix="$out/crashes/${target}-" "$corpus" "seeds_$target" $kept </dev/null >"$log" 2>&1); then
    verdict="no crash"
  else
    verdict="CRASH (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf 'fuzz_%-15s %10s runs  %6s exec/s  coverage %6s  %s\n' "$target" "${runs:-?}" "${speed:-?}" \
    "${coverage:-?}" "$verdict"
done
exit $status
