# SPDX-License-Identifier: BSD-2-Clause-Patent
# Sourced by the tools' scripts: pellrix_version prints the version of the
# tree the script belongs to (ROOT, its top folder): project()'s in
# CMakeLists.txt, or the VERSION file an installation puts there instead.
pellrix_version() {
  local root=$1
  if [[ -f $root/VERSION ]]; then
    cat "$root/VERSION"
  else
    sed -n 's/^project(pellrix VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
  fi
}
