#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Installs the Debian packages a job needs, when missing.
#
# usage: setup.sh [build|shell|kit|all]
#   build  what configuring and building every target needs (pellrix-sim,
#          pellrix-diff, pellrix-fleet, the EFI images, the unit tests and
#          the manual pages): the sample job's set
#   shell  the build's set and OVMF's UEFI Shell under QEMU (run-in-uefi-shell.sh)
#   kit    the build's set and the field kit image's tools (make-usb.sh)
#   all    the build's set and what the tests need beside it: QEMU and OVMF,
#          the field kit's tools, headless Chromium, the package tools
#          (the default)
set -euo pipefail

build_packages=(
  cmake ninja-build g++ clang lld pkgconf
  libgtest-dev libgmock-dev nlohmann-json3-dev
  liblzma-dev libbrotli-dev libssl-dev scdoc python3
)
shell_packages=(ovmf qemu-system-x86 mtools dosfstools perl)
kit_packages=(mtools dosfstools gdisk sbsigntool shim-signed openssl)
test_packages=(
  libbenchmark-dev libclang-rt-14-dev
  ovmf qemu-system-x86 mtools dosfstools perl sbsigntool shim-signed openssl
  uefitool-cli llvm gdisk coreboot-utils clang-format
  chromium python3-websocket python3-pil parallel
  man-db bash-completion
  build-essential debhelper dpkg-dev fakeroot lintian
)

case "${1:-all}" in
  build) packages=("${build_packages[@]}") ;;
  shell) packages=("${build_packages[@]}" "${shell_packages[@]}") ;;
  kit) packages=("${build_packages[@]}" "${kit_packages[@]}") ;;
  all) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: setup.sh [build|shell|kit|all]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
