#!/usr/bin/env bash
# Converts the hostile archives of bench/gen_kmz_bombs.py with quarvex-convert
# and reports, per archive, the archive's size, the seconds, the peak memory,
# the bytes left in the work folder and the program's warnings. A second
# build directory (an older build, say) is run over the same files after.
# Usage: bench/bench_kmz_bombs.sh [BUILD_DIR] [SCRATCH_DIR] [OTHER_BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
scratch=${2:-/tmp/quarvex-bombs}
other=${3:-}
mkdir -p "$scratch"
[ -f "$scratch/streamed-4GiB.kmz" ] || python3 "$here/gen_kmz_bombs.py" "$scratch"

run() { # build_dir archive
  local work=$scratch/work
  rm -rf "$work"
  # Bounded by ulimit so that an unbounded reader cannot fill the disk
  # (QUARVEX_BOMB_FILE_LIMIT_MB, default 8192).
  (ulimit -f $((${QUARVEX_BOMB_FILE_LIMIT_MB:-8192} * 1024)); /usr/bin/time -v "$1/quarvex-convert" --work-dir "$work" "$2" \
      >/dev/null 2>"$scratch/err.txt") || true
  local wall rss left
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$scratch/err.txt")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/err.txt")
  left=$(du -sb "$work" | cut -f1)
  awk -v n="$(basename "$2")" -v s="$(stat -c %s "$2")" -v t="$wall" -v r="$rss" -v l="$left" 'BEGIN {
    printf "%-20s %9.1f KB %8.2f s  peak %7.1f MB  work folder %12d bytes\n", n, s / 1000, t, r / 1024, l }'
  grep -E "^(Warning|quarvex-convert)" "$scratch/err.txt" | cut -c1-150 | sed 's/^/    /' || true
}

for dir in "$build" ${other:+"$other"}; do
  echo "== $dir/quarvex-convert"
  for archive in shrunk-1byte shrunk-clears deflated-4GiB streamed-4GiB; do
    run "$dir" "$scratch/$archive.kmz"
  done
done
rm -rf "$scratch/work"
