#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Installs the Debian packages that building and testing need, when missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang lld libclang-rt-14-dev pkgconf
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  ovmf qemu-system-x86 mtools dosfstools python3 perl sbsigntool shim-signed openssl
  uefitool-cli llvm gdisk coreboot-utils liblzma-dev libbrotli-dev clang-format libssl-dev
  chromium python3-websocket python3-pil parallel
  scdoc man-db bash-completion
  build-essential debhelper dpkg-dev fakeroot lintian
)

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
