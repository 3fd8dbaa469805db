#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in build-fuzz and runs each for SECONDS
# (default 60) on its seed corpus. Findings land in build-fuzz/findings; the exit status is
# non-zero when a target crashed. Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARRIN_FUZZ=ON -DQUARRIN_TESTS=OFF -DQUARRIN_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="-Wno-error" >/dev/null
cmake --build build-fuzz --target link_frame_fuzzer
mkdir -p build-fuzz/findings build-fuzz/corpus/link_frame
cp -n tests/fuzz/corpus/* build-fuzz/corpus/link_frame/ 2>/dev/null || true
echo "== fuzz: link_frame_fuzzer for ${seconds} s"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  build-fuzz/tests/fuzz/link_frame_fuzzer -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
  build-fuzz/corpus/link_frame tests/fuzz/corpus
