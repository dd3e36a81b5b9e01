#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages the build, the tests and the fixtures need.
# Only packages that are missing are installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libblkid-dev libudev-dev libsystemd-dev ntfs-3g-dev libcurl4-openssl-dev zlib1g-dev liburing-dev
  qt6-base-dev qt6-svg-dev
  dosfstools mtools ntfs-3g sleuthkit libfsntfs-utils libvshadow-utils
  exfatprogs fdisk
  python3 xvfb xauth
  python3-dbus python3-gi
  clang libfuzzer-14-dev
  systemd desktop-file-utils
  dbus-daemon dbus-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
