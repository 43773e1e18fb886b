#!/usr/bin/env bash
# The export (quarvex-convert --export) of the bench file with every group
# of values (bench/gen_kml.py --attributes: 200,000 points, 20,000 paths,
# 10,000 polygons with a hole), into shapefile sets and into a GeoPackage
# (--format gpkg) side by side, and beside ogr2ogr's three runs of the same
# file into shapefiles (one per geometry type); then the peak memory of the
# export of a generated document of at least 500 MB, and of a KMZ archive
# of it.
# Usage: bench/bench_export.sh [BUILD_DIR] [SCRATCH_DIR] [SCALE]
#   SCALE: the large document holds SCALE times the bench file (default 5).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
scratch=${2:-/tmp/quarvex-bench-export}
scale=${3:-5}
mkdir -p "$scratch"
input=$scratch/bench-attributes.kml
[ -f "$input" ] || python3 "$here/gen_kml.py" --attributes "$input"

# Runs a command under /usr/bin/time -v; prints "seconds peak_kib".
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$scratch/time.txt" || { cat "$scratch/time.txt" >&2; return 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$scratch/time.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/time.txt")
  echo "$wall $rss"
}

report() { # name seconds peak_kib input_bytes
  awk -v n="$1" -v t="$2" -v r="$3" -v s="$4" 'BEGIN { mb = s / 1e6
    printf "%-34s %8.2f s  %8.1f MB/s of input  peak %7.1f MB\n", n, t, mb / t, r / 1024 }'
}

size=$(stat -c %s "$input")
echo "input: $input ($(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1e6 }') MB)"
# The median of three runs of the export in FORMAT: prints "seconds peak_kib".
median_export() {
  local runs=()
  for i in 1 2 3; do
    rm -rf "$scratch/out"
    runs+=("$(measure "$build/quarvex-convert" --export "$scratch/out" --format "$1" "$input")")
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}
read -r ours rss < <(median_export shp)
report "quarvex-convert --export (median)" "$ours" "$rss" "$size"
read -r gpkg gpkg_rss < <(median_export gpkg)
report "  --format gpkg (median)" "$gpkg" "$gpkg_rss" "$size"
awk -v a="$gpkg" -v b="$ours" 'BEGIN { printf "the GeoPackage export takes %.2f times as long as the shapefile export\n", a / b }'

if command -v ogr2ogr >/dev/null; then
  total=0
  for type in POINT LINESTRING POLYGON; do
    rm -rf "$scratch/ogr-$type"
    read -r t r < <(measure ogr2ogr -f "ESRI Shapefile" -where "OGR_GEOMETRY='$type'" "$scratch/ogr-$type" "$input")
    report "ogr2ogr ($type)" "$t" "$r" "$size"
    total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
  done
  report "ogr2ogr (three runs)" "$total" 0 "$size"
  awk -v a="$total" -v b="$ours" 'BEGIN { printf "the export is %.1f times as fast as ogr2ogr'"'"'s three runs\n", a / b }'
else
  echo "ogr2ogr is not installed (apt-get install gdal-bin) - no comparison"
fi

# The large document: the bench file's placemarks SCALE times over, and the
# same as the only entry of a KMZ archive (deflated).
large=$scratch/large.kml
if [ ! -f "$large" ]; then
  python3 "$here/gen_kml.py" --attributes "$large" $((200000 * scale)) $((20000 * scale)) $((10000 * scale))
fi
kmz=$scratch/large.kmz
if [ ! -f "$kmz" ]; then
  python3 - "$large" "$kmz" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w", compression=zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.write(sys.argv[1], "doc.kml")
PY
fi
large_size=$(stat -c %s "$large")
for doc in "$large" "$kmz"; do
  rm -rf "$scratch/out-large"
  read -r t r < <(measure "$build/quarvex-convert" --export "$scratch/out-large" "$doc")
  report "export of $(basename "$doc")" "$t" "$r" "$large_size"
done
rm -rf "$scratch/out-large"
read -r t r < <(measure "$build/quarvex-convert" --export "$scratch/out-large" --format gpkg "$large")
report "  --format gpkg" "$t" "$r" "$large_size"
rm -rf "$scratch/out-large"
echo "(MB/s of the KML document in both: $(awk -v s="$large_size" 'BEGIN { printf "%.1f", s / 1e6 }') MB;" \
     "the KMZ is $(awk -v s="$(stat -c %s "$kmz")" 'BEGIN { printf "%.1f", s / 1e6 }') MB)"
