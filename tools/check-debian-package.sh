#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds the Debian packages from this tree (a copy of its files under
# build/package/) exactly as docs/packaging.md says, with the package's own
# check of the built programs, holds them to lintian (no error), installs
# them, runs every installed program's --version (the tree's version), finds
# every installed manual page with `man -w`, builds a field kit image with the
# installed pellrix-make-usb, and removes what it installed: the machine is
# left as it was. Prints lintian's counts and the build's time.
#
# usage: check-debian-package.sh
# Needs root or sudo (apt-get); it runs tools/setup.sh first, which installs
# what the build and lintian need.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/version.sh"
version=$(pellrix_version "$root")
packages=(pellrix pellrix-efi)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
begin=$(date +%s)
fail() { echo "package: $*" >&2; exit 1; }
bash "$root/tools/setup.sh"

for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    fail "$package is installed already; this check installs and removes its own copy only"
  fi
done

# A fixed place in the tree's build folder, so that ccache (when present)
# meets the same paths on the next run.
work=$root/build/package
source_copy=$work/pellrix-$version
rm -rf "$work"
mkdir -p "$source_copy"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$source_copy" 2>/dev/null) ||
  fail "cannot copy the tree"
if command -v ccache >/dev/null; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR CCACHE_BASEDIR=$source_copy
fi

echo "== dpkg-buildpackage -b -us -uc, as docs/packaging.md says (its check runs the built programs)"
start=$(date +%s)
(cd "$source_copy" && DEB_BUILD_OPTIONS="parallel=$(nproc)" nice dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1) ||
  { tail -n 40 "$work/build.log" >&2; fail "dpkg-buildpackage failed (build/package/build.log)"; }
echo "package: built in $(($(date +%s) - start)) s"
changes=$(ls "$work"/pellrix_"$version"_*.changes)

echo "== lintian"
lintian --tag-display-limit 0 --display-info "$changes" >"$work/lintian.txt" 2>"$work/lintian.err" || true
count() { grep -c "^$1: " "$work/lintian.txt" || true; }
errors=$(count E)
echo "package: lintian E: $errors W: $(count W) I: $(count I) (build/package/lintian.txt)"
grep '^[EW]: ' "$work/lintian.txt" || true
((errors == 0)) || fail "lintian reports errors"

# Whatever apt adds beside the packages (run-time dependencies tools/setup.sh
# did not install) goes again at the end, and nothing else.
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 ~ /^.i/ { print $2 }' | sort; }
before=$work/installed-before.txt
installed >"$before"
cleanup() {
  local added
  added=$(comm -13 "$before" <(installed))
  if [[ -n $added ]]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq $added >"$work/purge.log" 2>&1 ||
      echo "package: could not remove $added (build/package/purge.log)" >&2
  fi
}
trap cleanup EXIT

echo "== install"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  "$work"/pellrix_"$version"_*.deb "$work"/pellrix-efi_"$version"_all.deb >"$work/install.log" 2>&1 ||
  { tail -n 20 "$work/install.log" >&2; fail "the packages do not install"; }

programs=$(dpkg -L "${packages[@]}" | grep '^/usr/bin/' | sort)
[[ -n $programs ]] || fail "the packages install no program"
for program in $programs; do
  said=$("$program" --version 2>&1) || fail "$program --version failed: $said"
  [[ $said == "${program##*/} $version" ]] || fail "$program --version says '$said', the tree is $version"
  echo "package: $said"
  man -w "${program##*/}" >/dev/null 2>&1 || fail "${program##*/} has no manual page"
done

pages=$(dpkg -L "${packages[@]}" | sed -n 's|^/usr/share/man/man\([1-9]\)/\(.*\)\.[1-9]\.gz$|\1 \2|p' | sort)
[[ -n $pages ]] || fail "the packages install no manual page"
while read -r section name; do
  man -w "$section" "$name" >/dev/null || fail "man -w $section $name finds no page"
  completion=/usr/share/bash-completion/completions/$name
  [[ $section != 1 || -f $completion ]] || fail "$name has no bash completion"
done <<<"$pages"
echo "package: $(wc -l <<<"$pages") manual pages found by man -w"

echo "== a field kit image from the installed pellrix-make-usb"
(cd "$work" && pellrix-make-usb --size 64 >"$work/kit.log" 2>&1) || { cat "$work/kit.log" >&2; fail "pellrix-make-usb failed"; }
listing=$(MTOOLS_SKIP_CHECK=1 mdir -b -i "$work/pellrix-usb.img@@1M" ::/) || fail "the kit image holds no FAT volume"
for file in pellrix.efi pellrix-record.efi; do
  grep -qi "/$file\$" <<<"$listing" || fail "the kit image lacks $file"
  cmp -s <(MTOOLS_SKIP_CHECK=1 mcopy -n -i "$work/pellrix-usb.img@@1M" "::/$file" -) "/usr/lib/pellrix/efi/$file" ||
    fail "the kit image's $file is not the installed one"
done
echo "package: the kit image holds the installed EFI programs"

cleanup
trap - EXIT
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    fail "$package is still installed"
  fi
done
echo "package: built, installed, run and removed in $(($(date +%s) - begin)) s"
