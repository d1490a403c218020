#!/usr/bin/env bash
# Installs the Debian 12 packages Kelvaro needs to build and test (GNU parallel for the
# recipe for several machines, the desktop-file and AppStream validators for the installed
# tree), skipping the package lists' refresh when everything is already there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libtag1-dev
  libgtest-dev
  qt6-base-dev qt6-tools-dev qt6-l10n-tools xvfb xauth dbus
  parallel desktop-file-utils appstream
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
