#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build, quick power-cut
# sweeps of the navigation update and of a restore, a Release build with clang and its unit
# tests, the whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, a bounded
# run of every fuzz target, the simulated-platform tests under ThreadSanitizer, and the Windows
# build's direct-launch runs under Wine when Wine and MinGW-w64 are installed. Each phase says
# how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
phase_began=$SECONDS
# phase TITLE: ends the previous phase with its duration and announces the next one.
phase() {
  [ -z "${phase_name:-}" ] || echo "   ($phase_name: $((SECONDS - phase_began)) s)"
  phase_name="$1"
  phase_began=$SECONDS
  [ -z "$1" ] || echo "== $1"
}
# Sanitizer builds compile at -O1, as the sanitizers advise: their reports stay exact and
# the builds take about 40 % less time than at -O2. Assertions stay on.
sanitized_flags=(-DQUARRIN_BENCHMARKS=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g")

phase "install what is missing"
bash scripts/setup.sh

phase "check the formatting"
if ! git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror; then
  echo "   run: git ls-files '*.cpp' '*.h' | xargs clang-format -i"
  exit 1
fi

phase "check that includes point down the layers"
bash scripts/check-includes.sh

phase "build and test"
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$jobs"

phase "cut the power during a navigation update (every third operation, about 40 cuts)"
bash scripts/power-cut-sweep.sh --scenario navi --size 1 --every 3
phase "cut the power during a restore from the backup (every operation, 20 cuts)"
bash scripts/power-cut-sweep.sh --scenario restore --size 1

# A user's build: clang, the Release build type (-O3, no assertions), with warnings as errors
# so that it stays clean. Its fast tests are enough to show that it works.
phase "build with clang in Release and run the unit tests"
CC=clang CXX=clang++ bash scripts/build.sh build-release-clang -DCMAKE_BUILD_TYPE=Release \
  -DQUARRIN_BENCHMARKS=OFF
ctest --test-dir build-release-clang --output-on-failure -j "$jobs" -L unit

phase "build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan-suppressions.txt"
bash scripts/build.sh build-asan -DQUARRIN_SANITIZE=address,undefined "${sanitized_flags[@]}"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

phase "fuzz every reader of untrusted input for a bounded time"
bash scripts/fuzz.sh 20

phase "build and test under ThreadSanitizer (every simulated-platform test runs several threads)"
bash scripts/build.sh build-tsan -DQUARRIN_SANITIZE=thread "${sanitized_flags[@]}"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -LE e2e
phase "the Windows build under Wine"
if [ -x /usr/lib/wine/wine64 ] && command -v x86_64-w64-mingw32-g++ >/dev/null; then
  bash scripts/wine-e2e.sh launch  # the short subset: the launch scenarios
else
  echo "   skipped: Wine or MinGW-w64 is not installed (bash scripts/setup-win32.sh installs both)"
fi
phase ""
echo "== all tests passed in $SECONDS s"
