#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# make-usb.sh checks every tool its options need before any work: with one
# tool missing from the path it ends at once with one line naming the tool
# and its package, before it looks at the programs it would put on the
# stick (none is given here: a later check would say "not built").
#
# usage: check_make_usb_tools.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

fail() {
  echo "make_usb_tools: FAILED: $*" >&2
  exit 1
}

# A path holding every program of this one (the script adds sbin itself,
# so the tools hidden below are those outside it); each case takes one away.
bin=$work/bin
mkdir -p "$bin"
IFS=: read -r -a dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  [[ $dir == */sbin ]] && continue
  for program in "$dir"/*; do
    [[ -x $program && ! -e $bin/${program##*/} ]] && ln -s "$program" "$bin/"
  done
done

mkdir -p "$work/shim" "$work/empty"
: >"$work/shim/shimx64.efi.signed"
: >"$work/shim/mmx64.efi.signed"
# tool | package | options
cases=(
  "openssl|openssl|--shim --sign-key k --sign-cert c"
  "sbsign|sbsigntool|--sign-key k --sign-cert c"
  "mmd|mtools|"
  "mcopy|mtools|--sign-key k --sign-cert c"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r tool package options <<<"$entry"
  read -r -a list <<<"$options"
  [[ -e $bin/$tool ]] || fail "$tool is not installed here: the case means nothing"
  mv "$bin/$tool" "$work/hidden"
  PATH=$bin SHIM_DIR=$work/shim bash "$source_dir/tools/make-usb.sh" --prebuilt "$work/empty" \
    --output "$work/out.img" "${list[@]}" >"$work/out.txt" 2>&1
  status=$?
  mv "$work/hidden" "$bin/$tool"
  want="make-usb: $tool not found (package $package)"
  ((status == 1)) && [[ $(cat "$work/out.txt") == "$want" ]] ||
    { cat "$work/out.txt" >&2; fail "without $tool: status $status, expected 1 and only '$want'"; }
  [[ ! -e $work/out.img ]] || fail "without $tool: an image was written"
done
echo "make_usb_tools: each missing tool named with its package before any work"
