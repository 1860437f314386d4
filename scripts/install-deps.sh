#!/usr/bin/env bash
# Installs every Debian package Orvane needs to build, run and test.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpugixml-dev libusb-1.0-0-dev usb.ids
  qt6-base-dev qt6-translations-l10n libxcb1-dev
  clang libclang-rt-14-dev
  fonts-wqy-microhei
  desktop-file-utils shared-mime-info
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
