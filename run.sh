#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the program.
# Given a KML or KMZ file, converts it with the command-line program.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
if [ -x build/quarvex-convert ] && [ $# -gt 0 ]; then
  exec build/quarvex-convert "$@"
fi
echo "The desktop program is not built yet; the layer output library and its tests are."
exit 0
