#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The field kit's image built twice, in different time zones (FAT keeps local
# time), locales and umasks: the bytes must be the same. The license file on
# it must carry the BSD-2-Clause-Patent text that README.TXT promises.
#
# usage: check_reproducible_usb.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -u
[[ $# -eq 3 ]] || { echo "usage: $0 SOURCE_DIR BUILD_DIR WORK_DIR" >&2; exit 2; }
source_dir=$(cd "$1" && pwd) || exit 2
build=$(cd "$2" && pwd) || exit 2
work=$3
rm -rf "$work" && mkdir -p "$work" || exit 2
export MTOOLS_SKIP_CHECK=1

fail() {
  echo "reproducible_usb: FAILED: $*" >&2
  exit 1
}

# Far apart on the clock (UTC+14 and UTC-10), and a umask that would make
# every file read-only for others.
(TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 bash "$source_dir/tools/make-usb.sh" --prebuilt "$build" \
  --output "$work/east.img" >/dev/null) || fail "make-usb.sh failed"
(umask 077 && TZ=America/Adak LANG=C bash "$source_dir/tools/make-usb.sh" --prebuilt "$build" \
  --output "$work/west.img" >/dev/null) || fail "make-usb.sh failed in the second environment"
cmp "$work/east.img" "$work/west.img" >&2 || fail "the image depends on the time zone, locale or umask"

mcopy -n -i "$work/east.img@@1M" ::/LICENSE.TXT ::/README.TXT "$work/" || fail "cannot copy out"
grep -q 'BSD-2-Clause-Patent' "$work/README.TXT" || fail "README.TXT no longer names the license"
# The license's own words: its identifier and its patent grant.
grep -q '^SPDX-License-Identifier: BSD-2-Clause-Patent' "$work/LICENSE.TXT" &&
  tr -d '\r' <"$work/LICENSE.TXT" | tr '\n' ' ' | grep -q 'hereby grants to those receiving rights under this license a perpetual' ||
  fail "LICENSE.TXT lacks the BSD-2-Clause-Patent text"
echo "reproducible_usb: the same image in two time zones, with its license"
