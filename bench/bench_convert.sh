#!/usr/bin/env bash
# Converts a generated KML of about 120 MB with quarvex-convert and reports
# input MB/s and peak memory, then again with the map picture (--png);
# runs ogr2ogr on the same file when installed.
# Usage: bench/bench_convert.sh [BUILD_DIR] [SCRATCH_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
scratch=${2:-/tmp/quarvex-bench}
mkdir -p "$scratch"
input=$scratch/bench.kml
[ -f "$input" ] || python3 "$here/gen_kml.py" "$input"
size=$(stat -c %s "$input")
mb=$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1e6 }')

# Runs a command under /usr/bin/time -v; prints "seconds peak_kib".
measure() {
  /usr/bin/time -v "$@" >/dev/null 2>"$scratch/time.txt" || { cat "$scratch/time.txt" >&2; return 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$scratch/time.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/time.txt")
  echo "$wall $rss"
}

report() { # name seconds peak_kib
  awk -v n="$1" -v t="$2" -v r="$3" -v mb="$mb" 'BEGIN {
    printf "%-28s %7.2f s  %8.1f MB/s  peak %7.1f MB (%.2f x input)\n", n, t, mb / t, r / 1024, r * 1024 / (mb * 1e6) }'
}

echo "input: $input ($mb MB)"
# Three runs into the same work folder (as a user converting again would);
# the median is reported, since one run varies with the disk cache.
rm -rf "$scratch/work"
runs=()
for i in 1 2 3; do
  runs+=("$(measure "$build/quarvex-convert" --work-dir "$scratch/work" "$input")")
done
read -r t r < <(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p)
report "quarvex-convert (median of 3)" "$t" "$r"
# The same with the map picture drawn after the job, as a redraw of a
# 1280 x 800 map page would be.
runs=()
for i in 1 2 3; do
  runs+=("$(measure "$build/quarvex-convert" --work-dir "$scratch/work" --png "$scratch/map.png" --size 1280x800 "$input")")
done
read -r tp rp < <(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p)
report "  with --png 1280x800" "$tp" "$rp"
awk -v a="$t" -v b="$tp" 'BEGIN { printf "  --png adds %.2f s (%.0f%% of the conversion)\n", b - a, (b - a) * 100 / a }'

if command -v ogr2ogr >/dev/null; then
  total=0
  for type in POINT LINESTRING POLYGON; do
    rm -rf "$scratch/ogr-$type"
    read -r t r < <(measure ogr2ogr -f "ESRI Shapefile" -where "OGR_GEOMETRY='$type'" "$scratch/ogr-$type" "$input")
    report "ogr2ogr ($type)" "$t" "$r"
    total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
  done
  awk -v t="$total" -v mb="$mb" 'BEGIN { printf "%-28s %7.2f s  %8.1f MB/s\n", "ogr2ogr (three runs)", t, mb / t }'
else
  echo "ogr2ogr is not installed (apt-get install gdal-bin) - no comparison"
fi
