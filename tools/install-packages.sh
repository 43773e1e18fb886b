#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only when one
# is missing (apt-get update runs only then).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  libpugixml-dev libcurl4-openssl-dev libexpat1-dev zlib1g-dev libproj-dev libsqlite3-dev
  qt6-base-dev libgl-dev fonts-liberation2 fonts-dejavu-core
  python3 python3-pyshp python3-pil gdal-bin python3-gdal
  clang libclang-rt-14-dev
  zip unzip strace
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
