# SPDX-License-Identifier: BSD-2-Clause-Patent
# Sourced by the build scripts: ccache serves a rebuild when it is installed
# and is never required. Sets `launcher` to the CMake options that use it
# (empty without ccache); paths below the tree are hashed relative to it, so
# that another checkout of the same sources meets the same cache.
launcher=()
if command -v ccache >/dev/null; then
  CCACHE_BASEDIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export CCACHE_BASEDIR CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
