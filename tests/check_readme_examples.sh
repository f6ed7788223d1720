#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Runs every example of the README's simulator section, in order, as written, in a
# scratch directory where build/ is the build directory: none may be refused
# (status 2), taken for a bad utility command line (131, "Invalid command!")
# or print to standard error.
#
# usage: check_readme_examples.sh README BUILD_DIR
set -u
[[ $# -eq 2 ]] || { echo "usage: $0 README BUILD_DIR" >&2; exit 2; }
readme=$1
build=$(cd "$2" && pwd) || exit 2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
ln -s "$build" "$work/build"

# The command lines of the simulator section's shell blocks that start the
# simulator (other sections' examples need a board's recording or dumps).
mapfile -t examples < <(awk '/^## / { section = ($0 == "## The simulator") }
  section && /^```sh$/ { inside = 1; next } /^```$/ { inside = 0 } section && inside && /^build\/pellrix-sim/' "$readme" |
  sed 's/[[:space:]]*#.*$//')
(( ${#examples[@]} >= 3 )) || { echo "readme: found only ${#examples[@]} simulator examples" >&2; exit 1; }

failed=0
for example in "${examples[@]}"; do
  (cd "$work" && eval "$example" >"$work/out.txt" 2>"$work/err.txt")
  status=$?
  if (( status == 2 || status == 131 )) || [[ -s $work/err.txt ]] || grep -q 'Invalid command!' "$work/out.txt"; then
    echo "readme: '$example' ended with status $status: $(head -c 300 "$work/err.txt") $(head -c 200 "$work/out.txt")" >&2
    failed=1
  fi
done
(( failed == 0 )) || exit 1
echo "readme: ${#examples[@]} simulator examples run as written"
