#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds every EFI image twice from the same tree into two build directories
# of different paths and requires the images to be byte-identical: no time
# stamp and no build path may reach them.
#
# usage: check_reproducible_efi.sh SOURCE_DIR WORK_DIR
set -u
[[ $# -eq 2 ]] || { echo "usage: $0 SOURCE_DIR WORK_DIR" >&2; exit 2; }
source_dir=$(cd "$1" && pwd) || exit 2
work=$2
rm -rf "$work" && mkdir -p "$work" || exit 2
work=$(cd "$work" && pwd)

targets=(pellrix_efi pellrix_vboard_efi pellrix_record_efi pellrix_record_vboard_efi pellrix_kit_efi pellrix_kit_vboard_efi vboard_efi
  vbactive_efi legacy_shell_launcher_efi)
for build in first second-build-elsewhere; do
  cmake -S "$source_dir" -B "$work/$build" -G Ninja -DPELLRIX_BUILD_TESTS=OFF >"$work/$build.log" 2>&1 &&
    cmake --build "$work/$build" --target "${targets[@]}" >>"$work/$build.log" 2>&1 ||
    { echo "reproducible: the build in $build failed:" >&2; tail -n 20 "$work/$build.log" >&2; exit 1; }
done

failed=0
count=0
for image in "$work"/first/*.efi; do
  name=$(basename "$image")
  ((++count))
  if ! cmp "$image" "$work/second-build-elsewhere/$name"; then
    echo "reproducible: $name differs between two builds of the same tree" >&2
    failed=1
  fi
done
(( count == ${#targets[@]} )) || { echo "reproducible: expected ${#targets[@]} images, found $count" >&2; exit 1; }
(( failed == 0 )) || exit 1
echo "reproducible: $count EFI images identical across two builds"
rm -rf "$work"
