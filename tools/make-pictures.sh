#!/usr/bin/env bash
# Makes the pictures of the README from real files: the map of a corpus file
# as quarvex-convert --png draws it. Run after a build (./run.sh or ./test.sh).
# Usage: tools/make-pictures.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
corpus=../shared/testdata/kml-corpus
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p docs
"$build/quarvex-convert" --work-dir "$scratch" --png docs/map-polygons2d.png --size 800x600 \
  "$corpus/libkml_polygons2d.kml"
echo "wrote docs/map-polygons2d.png"
