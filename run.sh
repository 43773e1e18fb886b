#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the desktop program,
# on FILE when one is given. Without a display, a FILE is converted by the
# command-line program instead.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  if [ $# -gt 0 ]; then
    exec build/quarvex-convert "$@"
  fi
  echo "No display to show the program on; give a KML or KMZ file to convert it with build/quarvex-convert."
  exit 0
fi
exec build/quarvex "$@"
