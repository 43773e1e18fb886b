#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default
# 20) over the committed seeds and seeds taken from ../shared. A crash, a
# leak or a sanitizer report fails the run; the input is kept in build-fuzz/.
# Usage: tests/fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_unzip fuzz_unshrink fuzz_unreduce fuzz_unexplode fuzz_kml fuzz_xml fuzz_export fuzz_shpfile)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)"
scratch=build-fuzz/corpus
python3 tests/fuzz/make_seeds.py ../shared "$scratch"
# The shape file reader starts from layers that our own writer made of the
# KML corpus.
for kml in ../shared/testdata/kml-corpus/*.kml; do
  [ -f "$kml" ] && [ "$(stat -c %s "$kml")" -lt 200000 ] || continue
  rm -rf "$scratch/layers"
  build-fuzz/quarvex-convert --work-dir "$scratch/layers" "$kml" >/dev/null 2>&1 || true
  for layer in "$scratch"/layers/kml_tmp*.\$m; do
    if [ -f "$layer" ]; then cp "$layer" "$scratch/shpfile/$(basename "$kml" .kml)_$(basename "$layer" .\$m)"; fi
  done
done
rm -rf "$scratch/layers"

for target in "${targets[@]}"; do
  name=${target#fuzz_}
  dict=()
  [ -f "tests/fuzz/$name.dict" ] && dict=(-dict="tests/fuzz/$name.dict")
  echo "== $target for ${seconds}s"
  log=build-fuzz/$target.log
  status=0
  (cd build-fuzz && "./tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 ${dict[@]+"${dict[@]/#-dict=/-dict=../}"} "corpus/$name" "../tests/fuzz/corpus/$name") \
      >"$log" 2>&1 || status=$?
  grep -a -E "^(#[0-9]+.*DONE|INFO: seed|==[0-9]+== ?ERROR|SUMMARY|artifact_prefix|Test unit written|stat::number_of_executed_units)" "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "$target failed (exit $status); the end of $log:"; tail -n 40 "$log"
    exit 1
  fi
done
