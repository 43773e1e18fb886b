#!/usr/bin/env bash
# Makes the pictures of the README from real files of the KML corpus: the map
# as quarvex-convert --png draws it, and the desktop program's windows
# rendered offscreen (main window with its map, the job window's summary,
# the batch dialog with files and UTM chosen, the About box).
# Run after a build (./run.sh or ./test.sh). Usage: tools/make-pictures.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
corpus=../shared/testdata/kml-corpus
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p docs
"$build/quarvex-convert" --work-dir "$scratch/cli" --png docs/map-polygons2d.png --size 800x600 \
  "$corpus/libkml_polygons2d.kml" >/dev/null
echo "wrote docs/map-polygons2d.png"
mkdir -p "$scratch/runtime"
chmod 700 "$scratch/runtime"
XDG_RUNTIME_DIR="$scratch/runtime" XDG_CACHE_HOME="$scratch/cache" XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen \
  "$build/quarvex_screenshots" "$corpus/libkml_polygons2d.kml" docs \
  "$corpus/libkml_lines.kml" "$corpus/giscore_content.kmz" "$corpus/libkml_points-puntas.kml" \
  "$corpus/libkml_polygons2d.kml" 2> >(grep -v "does not support" >&2)
