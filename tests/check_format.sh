#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Every C++ source of the tree is as .clang-format lays it out.
set -euo pipefail
cd "$1"
git ls-files '*.cpp' '*.h' | grep -v '^tests/data/' | xargs clang-format --dry-run -Werror
echo "every source is formatted"
