#!/usr/bin/env bash
# Installs the Debian packages the build needs; does nothing when all are present.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libblitz0-dev
  libboost-dev libboost-thread-dev libboost-date-time-dev libboost-system-dev
  libpng-dev libtiff-dev zlib1g-dev libjpeg-dev liblcms2-dev
  qtbase5-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool imagemagick
  openbox wmctrl x11-utils
  qttools5-dev-tools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
