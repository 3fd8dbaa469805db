#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build, then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
echo "== build and test"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan-suppressions.txt"
bash scripts/build.sh build-asan -DQUARRIN_SANITIZE=address,undefined -DQUARRIN_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzz the deframer and the message parsers for a bounded time"
bash scripts/fuzz.sh 30

echo "== build and test under ThreadSanitizer (every simulated-platform test runs several threads)"
bash scripts/build.sh build-tsan -DQUARRIN_SANITIZE=thread -DQUARRIN_BENCHMARKS=OFF
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -LE e2e
