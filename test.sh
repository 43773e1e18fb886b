#!/usr/bin/env bash
# Installs what is missing, builds, runs every test, runs the fuzz targets
# for a short while, then runs the core tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-packages.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

# Every parser of outside bytes under libFuzzer (QUARVEX_FUZZ_SECONDS each).
tests/fuzz/run.sh "${QUARVEX_FUZZ_SECONDS:-20}"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARVEX_CORE_ONLY=ON -DQUARVEX_SANITIZE=ON
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")
