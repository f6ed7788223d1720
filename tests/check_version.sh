#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The version is written once, in CMakeLists.txt's project(): the Debian
# changelog's newest entry and every program's --version must say the same
# (a release that bumps one and forgets another fails here).
#
# usage: check_version.sh SOURCE_DIR PROGRAM_COMMAND...
#   each PROGRAM_COMMAND is one word, a program or "bash SCRIPT" quoted as one
set -uo pipefail
(($# >= 2)) || { echo "usage: $0 SOURCE_DIR PROGRAM_COMMAND..." >&2; exit 2; }
source_dir=$1
shift
source "$source_dir/tools/version.sh"
version=$(pellrix_version "$source_dir")
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "version: project() gives '$version'" >&2; exit 1; }

failed=0
changelog=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version) || exit 1
if [[ $changelog != "$version" ]]; then
  echo "version: debian/changelog says $changelog, the tree $version" >&2
  failed=1
fi
for command in "$@"; do
  # shellcheck disable=SC2086
  said=$($command --version 2>&1)
  if ! [[ $said =~ ^pellrix-[a-z-]+\ (.*)$ && ${BASH_REMATCH[1]} == "$version" ]]; then
    echo "version: '$command --version' says '$said', the tree $version" >&2
    failed=1
  fi
done
((failed == 0)) || exit 1
echo "version: $version in CMakeLists.txt, debian/changelog and $# programs"
