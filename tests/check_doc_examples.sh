#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Runs every example of the given documents that starts build/pellrix-sim or
# build/diff/pellrix-diff (the lines of their ```sh blocks), documents in the
# order given, each in order, as written, in one scratch directory where
# build/ is the build directory: none may be refused (status 2), taken for a
# bad utility command line (131, "Invalid command!") or print to standard
# error. Examples of other programs need a board's recording or dumps.
#
# usage: check_doc_examples.sh BUILD_DIR DOCUMENT...
set -u
[[ $# -ge 2 ]] || { echo "usage: $0 BUILD_DIR DOCUMENT..." >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
shift
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
ln -s "$build" "$work/build"

examples=()
for document in "$@"; do
  mapfile -t found < <(awk '/^```sh$/ { inside = 1; next } /^```$/ { inside = 0 }
    inside && /^build\/(pellrix-sim|diff\/pellrix-diff)( |$)/' "$document" | sed 's/[[:space:]]*#.*$//')
  # A document named here that has lost its examples is a fault too.
  (( ${#found[@]} >= 1 )) || { echo "examples: none found in $document" >&2; exit 1; }
  examples+=("${found[@]}")
done

failed=0
for example in "${examples[@]}"; do
  (cd "$work" && eval "$example" >"$work/out.txt" 2>"$work/err.txt")
  status=$?
  if (( status == 2 || status == 131 )) || [[ -s $work/err.txt ]] || grep -q 'Invalid command!' "$work/out.txt"; then
    echo "examples: '$example' ended with status $status: $(head -c 300 "$work/err.txt") $(head -c 200 "$work/out.txt")" >&2
    failed=1
  fi
done
(( failed == 0 )) || exit 1
echo "examples: ${#examples[@]} examples run as written"
